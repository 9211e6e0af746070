// The umbrella header of Qel.Chart.Core: client code includes this alone.
#ifndef QEL_CORE_QELCHARTCORE_H
#define QEL_CORE_QELCHARTCORE_H

#include "DebugStream.h"
#include "IModifiable.h"
#include "ModifiablePtr.h"
#include "Ptr.h"
#include "Stringifiers.h"
#include "TimeStamp.h"

#endif
