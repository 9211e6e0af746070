#include "ReportTexts.h"

#include <cstddef>
#include <iterator>

namespace Qel {
namespace Chart {
namespace Core {
namespace Private {

namespace {

struct Row {
    Report key;
    char const* text;
};

// Pieces that several texts share, spelled once.
#define QEL_WHILE_WALKED \
    "\"!IsBeingWalked() && \"Dependencies changed while a propagation walks them.\"\" - void __cdecl "
#define QEL_SEARCH_CONSTRUCTOR                                                                          \
    "__cdecl Qel::Chart::Core::DepthFirstSearch<class Qel::Chart::Core::IModifiable::Identifier,class " \
    "Qel::Chart::Core::IModifiable::Identifier "                                                        \
    "*>::DepthFirstSearch(const class boost::function<bool __cdecl(class "                              \
    "Qel::Chart::Core::IModifiable::Identifier &,class boost::function<void __cdecl(class "             \
    "Qel::Chart::Core::IModifiable::Identifier * const &,class "                                        \
    "Qel::Chart::Core::IModifiable::Identifier * const &)> const &)>,const class "                      \
    "boost::function<void __cdecl(class Qel::Chart::Core::IModifiable::Identifier &)>)"

// In the order of Report; each row names its report so that the checks
// below refuse a table that has drifted from the enum.
constexpr Row kRows[] = {
    {Report::ExpiredPointer,
     "\"!p_id.Expired() && \"Cannot pass an expired pointer\"\" - __cdecl "
     "Qel::Chart::Core::ModifiablePtr::ModifiablePtr(class "
     "Qel::Chart::Core::IModifiable::Identifier)"},
    {Report::PropertyEndedEarly,
     "\"property ended before its node\" - __cdecl Qel::Chart::Core::Property<T>::~Property(void)"},
    {Report::ExplicitRefEndedEarly,
     "\"explicit reference ended before its node\" - __cdecl "
     "Qel::Chart::Core::ExplicitRefBase::~ExplicitRefBase(void)"},
    {Report::CompositeEndedEarly,
     "\"composite property ended before its node\" - __cdecl "
     "Qel::Chart::Core::CompositePropertyBase::~CompositePropertyBase(void)"},
    {Report::WatchListsOutOfStep,
     "\"_subjects.size() == _times.size()\" - void __cdecl "
     "Qel::Chart::Core::CompositePropertyBase::Watch(const class Qel::Chart::Core::IModifiable &)"},
    {Report::PropertyNameTaken,
     "\"Find(p_property.Name()) == -1\" - void __cdecl Qel::Chart::Core::PropertyMap::Create(class "
     "Qel::Chart::Core::IProperty &)"},
    {Report::PropertyNameNotFound,
     "class Qel::Chart::Core::IProperty &__cdecl Qel::Chart::Core::PropertyMap::Get(const class "
     "std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> > &) const "
     "@line41"},
    {Report::PropertyIndexOutOfRange,
     "\"0 <= (int)p_index < (int)_properties.Size()\" - class Qel::Chart::Core::IProperty &__cdecl "
     "Qel::Chart::Core::PropertyMap::Get(const unsigned __int64) const"},
    {Report::ExplicitRefNameTaken,
     "\"(Find(p_ref.Name()) == -1) && \"Explicit Ref of the given name is already registered!\"\" - "
     "void __cdecl Qel::Chart::Core::ExplicitRefMap::Register(class Qel::Chart::Core::IExplicitRef "
     "&)"},
    {Report::ExplicitRefNameNotFound,
     "\"(idx != -1) && \"Failed to find Explicit Ref with given name!\"\" - class "
     "Qel::Chart::Core::IExplicitRef &__cdecl Qel::Chart::Core::ExplicitRefMap::Get(const class "
     "std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> > &) const"},
    {Report::ExplicitRefIndexOutOfRange,
     "\"p_index >= 0 && p_index < _refs.Size()\" - class Qel::Chart::Core::IExplicitRef &__cdecl "
     "Qel::Chart::Core::ExplicitRefMap::Get(const unsigned __int64) const"},
    {Report::TooManyPropertyNames,
     "\"(newId < std::numeric_limits<unsigned short>::max()) && \"The number of properties is larger "
     "then a single unsigned short can represent.\"\" - unsigned short __cdecl "
     "Qel::Chart::Core::Private::PropertyMetaData::PropertyNameCache::GenerateId(const class "
     "Qel::Chart::Utility::LightString_Base<char> &)"},
    {Report::UnknownPropertyNameId,
     "\"p_id < _idToString.size()\" - const class Qel::Chart::Utility::LightString_Base<char> "
     "&__cdecl Qel::Chart::Core::Private::PropertyMetaData::PropertyNameCache::FindName(const "
     "unsigned short)"},
    {Report::InsertWhileWalked,
     QEL_WHILE_WALKED "Qel::Chart::Core::Dependencies::Insert(const class Qel::Chart::Core::IModifiable &)"},
    {Report::ReserveWhileWalked, QEL_WHILE_WALKED "Qel::Chart::Core::Dependencies::Reserve(const unsigned __int64)"},
    {Report::RemoveWhileWalked,
     QEL_WHILE_WALKED "Qel::Chart::Core::Dependencies::Remove(const class Qel::Chart::Core::IModifiable &)"},
    {Report::SquezeWhileWalked, QEL_WHILE_WALKED "Qel::Chart::Core::Dependencies::Squeze(void)"},
    {Report::RemoveMissingEntry,
     "\"found != _list.End()\" - void __cdecl Qel::Chart::Core::Dependencies::Remove(const class "
     "Qel::Chart::Core::IModifiable &)"},
    {Report::SearchWithoutPerNodeOp, "\"_perNodeOp\" - " QEL_SEARCH_CONSTRUCTOR},
    {Report::SearchWithoutCycleOp, "\"_cycleDetectOp\" - " QEL_SEARCH_CONSTRUCTOR},
    {Report::SearchLeftNodesMarked,
     "\"colors.empty()\" - void __cdecl Qel::Chart::Core::DepthFirstSearch<class "
     "Qel::Chart::Core::IModifiable::Identifier,class Qel::Chart::Core::IModifiable::Identifier "
     "*>::operator ()(class Qel::Chart::Core::IModifiable::Identifier &) const"},
    {Report::DependentWithoutTracker,
     "\"void*(tracker)\" - void __cdecl `anonymous-namespace'::CallTouch(class "
     "Qel::Chart::Core::Dependencies &,const enum "
     "Qel::Chart::Core::IModifiable::ModifiableType,const enum "
     "Qel::Chart::Core::IModifiable::Change,const enum Qel::Chart::Core::IModifiable::Relationship "
     "&,const class Qel::Chart::Core::WeakPtr<class Qel::Chart::Core::Node> &,const class "
     "std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> > &,const "
     "class boost::any &,unsigned int &)"},
    {Report::WalkWithLiveOriginator,
     "\"p_originator.Expired()\" - void __cdecl Qel::Chart::Core::Node::TouchThis(const enum "
     "Qel::Chart::Core::IModifiable::ModifiableType,const enum "
     "Qel::Chart::Core::IModifiable::Change,const enum "
     "Qel::Chart::Core::IModifiable::Relationship,const class Qel::Chart::Core::WeakPtr<class "
     "Qel::Chart::Core::Node> &,const class std::basic_string<char,struct "
     "std::char_traits<char>,class std::allocator<char> > &,const class boost::any &)"},
    {Report::UnknownChange,
     "class std::basic_ostream<char,struct std::char_traits<char> > &__cdecl operator <<(class "
     "std::basic_ostream<char,struct std::char_traits<char> > &,const enum "
     "Qel::Chart::Core::IModifiable::Change &) @line78"},
    {Report::UnknownModifiableType,
     "class std::basic_ostream<char,struct std::char_traits<char> > &__cdecl operator <<(class "
     "std::basic_ostream<char,struct std::char_traits<char> > &,const enum "
     "Qel::Chart::Core::IModifiable::ModifiableType &) @line54"},
    {Report::UnknownRelationship,
     "class std::basic_ostream<char,struct std::char_traits<char> > &__cdecl operator <<(class "
     "std::basic_ostream<char,struct std::char_traits<char> > &,const enum "
     "Qel::Chart::Core::IModifiable::Relationship &) @line33"},
    {Report::DumpedEntryWithoutObject,
     "\"ptr\" - void __cdecl Qel::Chart::Core::Node::Dump(class std::basic_ostream<char,struct "
     "std::char_traits<char> > &,const enum Qel::Chart::Core::Verbosity,const unsigned __int64) "
     "const"},
    {Report::NodeIdOfEmptyPath, "\"!_path.Empty()\" - int __cdecl Qel::Chart::Core::NodePath::NodeId(void) const"},
    {Report::ParentOfEmptyPath,
     "\"!_path.Empty()\" - class Qel::Chart::Core::NodePath __cdecl "
     "Qel::Chart::Core::NodePath::Parent(void) const"},
    {Report::DuplicateNodeFactory,
     "\"NodeFactory::Register().insert(NodeFactory::FactoryPair(runningId, p_factory)).second && "
     "\"InternalError: Core::Node found a duplicate factory entry.\"\" - unsigned short __cdecl "
     "Qel::Chart::Core::Node::RegisterNodeType(const class type_info &,const class "
     "boost::function<class Qel::Chart::Core::Ptr<class Qel::Chart::Core::Node> __cdecl(void)> &)"},
    {Report::UnregisteredNodeType,
     "\"it != NodeFactory::Register().end()\" - class Qel::Chart::Core::Ptr<class "
     "Qel::Chart::Core::Node> __cdecl Qel::Chart::Core::Node::CreateTypeOf(const class "
     "Qel::Chart::Core::Ptr<class Qel::Chart::Core::Node> &)"},
    {Report::DeleterThrewWarning,
     "WARNING: \"false && \"Exception caught while deallocating a node!\"\" - void __cdecl "
     "Qel::Chart::Core::Node::Deleter(class Qel::Chart::Core::Node *) throw() @line239"},
    {Report::DeleterThrew,
     "void __cdecl Qel::Chart::Core::Node::Deleter(class Qel::Chart::Core::Node *) throw() @line240"},
};

#undef QEL_WHILE_WALKED
#undef QEL_SEARCH_CONSTRUCTOR

constexpr bool KeysInOrder() {
    for (std::size_t i = 0; i < std::size(kRows); ++i) {
        if (kRows[i].key != static_cast<Report>(i)) {
            return false;
        }
    }
    return true;
}

static_assert(std::size(kRows) == static_cast<std::size_t>(Report::Count), "one row per report");
static_assert(KeysInOrder(), "row i carries report i");

// What a value that names no report gets: the report still says something,
// and nothing is read past the table.
constexpr char const* kUnknownText = "(unknown report)";

}  // namespace

char const* ReportText(Report p_report) noexcept {
    std::size_t const index = static_cast<std::size_t>(p_report);
    return index < std::size(kRows) ? kRows[index].text : kUnknownText;
}

}  // namespace Private
}  // namespace Core
}  // namespace Chart
}  // namespace Qel
