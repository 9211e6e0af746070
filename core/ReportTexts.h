// The fixed texts of the core's diagnostics reports, one definition each.
#ifndef QEL_CORE_REPORTTEXTS_H
#define QEL_CORE_REPORTTEXTS_H

#include "QelCoreExport.h"

namespace Qel {
namespace Chart {
namespace Core {
namespace Private {

/// A report that the core makes through its logger, named by what it
/// reports. `ReportText` gives its text, which tests and users match byte
/// for byte.
enum class Report : unsigned char {
    // Handles, and objects that end while their node lives.
    ExpiredPointer,         ///< a handle made from an expired identifier
    PropertyEndedEarly,     ///< a `Property<T>` ended before its node
    ExplicitRefEndedEarly,  ///< an explicit reference ended before its node
    CompositeEndedEarly,    ///< a composite property ended before its node
    WatchListsOutOfStep,    ///< a composite's watched parts and their stamps differ in number

    // The tables of properties, explicit references and property names.
    PropertyNameTaken,           ///< a second property of one name on a node
    PropertyNameNotFound,        ///< no property of the asked name
    PropertyIndexOutOfRange,     ///< a property index past the table
    ExplicitRefNameTaken,        ///< a second explicit reference of one name on a node
    ExplicitRefNameNotFound,     ///< no explicit reference of the asked name
    ExplicitRefIndexOutOfRange,  ///< an explicit reference index past the table
    TooManyPropertyNames,        ///< more property names than an id can number
    UnknownPropertyNameId,       ///< an id that names no property name

    // Dependents lists, the depth-first search and the walk.
    InsertWhileWalked,        ///< `Dependencies::Insert` on a list being walked
    ReserveWhileWalked,       ///< `Dependencies::Reserve` on a list being walked
    RemoveWhileWalked,        ///< `Dependencies::Remove` on a list being walked
    SquezeWhileWalked,        ///< `Dependencies::Squeze` on a list being walked
    RemoveMissingEntry,       ///< `Dependencies::Remove` of an object not in the list
    SearchWithoutPerNodeOp,   ///< a `DepthFirstSearch` made without its per-node operation
    SearchWithoutCycleOp,     ///< a `DepthFirstSearch` made without its cycle operation
    SearchLeftNodesMarked,    ///< a search ended with nodes still marked as on its path
    DependentWithoutTracker,  ///< a walked dependent without a list, or an identifier without an object
    WalkWithLiveOriginator,   ///< a walk started with an originator already set

    // Printing modifiables and nodes.
    UnknownChange,             ///< printing an `IModifiable::Change` outside its values
    UnknownModifiableType,     ///< printing an `IModifiable::ModifiableType` outside its values
    UnknownRelationship,       ///< printing an `IModifiable::Relationship` outside its values
    DumpedEntryWithoutObject,  ///< `Node::Dump` met a live dependent without an object

    // Paths, the type registry and deletion.
    NodeIdOfEmptyPath,     ///< `NodePath::NodeId` of an undefined path
    ParentOfEmptyPath,     ///< `NodePath::Parent` of an undefined path
    DuplicateNodeFactory,  ///< a node type registered with a factory already in place
    UnregisteredNodeType,  ///< `Node::CreateTypeOf` a node whose type has no factory
    DeleterThrewWarning,   ///< the warning line written when deleting a node threw
    DeleterThrew,          ///< the report of the exception that deleting a node threw

    Count  ///< the number of reports; names none
};

/// The text of `p_report`. A value that names no report (`Count` or past it)
/// gets a fixed text of its own, never null and never one of the reports'.
QELCORE_API char const* ReportText(Report p_report) noexcept;

}  // namespace Private
}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
