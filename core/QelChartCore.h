// The umbrella header of Qel.Chart.Core: client code includes this alone.
#ifndef QEL_CORE_QELCHARTCORE_H
#define QEL_CORE_QELCHARTCORE_H

#include "ChangeBatch.h"
#include "CompositePropertyBase.h"
#include "DebugStream.h"
#include "Dependencies.h"
#include "ExplicitRef.h"
#include "ExplicitRefAccess.h"
#include "ExplicitRefMap.h"
#include "IModifiable.h"
#include "Model.h"
#include "ModifiablePtr.h"
#include "ModificationWatcher.h"
#include "Node.h"
#include "NodeAccess.h"
#include "NodePath.h"
#include "Propagation.h"
#include "Property.h"
#include "PropertyAccess.h"
#include "PropertyCreator.h"
#include "PropertyMap.h"
#include "PropertyNameCache.h"
#include "Ptr.h"
#include "ReportTexts.h"
#include "Stringifiers.h"
#include "Subscription.h"
#include "TimeStamp.h"
#include "TypedRef.h"
#include "UndoStack.h"
#include "Verbosity.h"

#endif
