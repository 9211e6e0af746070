// The umbrella header of Qel.Chart.Core: client code includes this alone.
#ifndef QEL_CORE_QELCHARTCORE_H
#define QEL_CORE_QELCHARTCORE_H

#include "DebugStream.h"
#include "Dependencies.h"
#include "ExplicitRefMap.h"
#include "IModifiable.h"
#include "ModifiablePtr.h"
#include "Node.h"
#include "PropertyCreator.h"
#include "PropertyMap.h"
#include "Ptr.h"
#include "Stringifiers.h"
#include "TimeStamp.h"
#include "Verbosity.h"

#endif
