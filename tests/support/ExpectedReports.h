// The library's report texts that several tests and the reference model expect.
// Header only, with no dependency, so that the fuzzer's copy of the model builds too.
#ifndef QEL_TESTS_EXPECTEDREPORTS_H
#define QEL_TESTS_EXPECTEDREPORTS_H

#include <string>

namespace qeltest {

/// A `std::string const` parameter, and one by reference, as the reports spell them.
inline std::string const kStringValue =
    "const class std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> >";
inline std::string const kStringArgument = kStringValue + " &";
/// The end of a report from LightString's CopyString.
inline std::string const kInCopyString =
    " - void __cdecl Qel::Chart::Utility::LightString_Base<char>::CopyString(" + kStringValue + ")";
/// Dependencies::Remove of an object the list does not hold.
inline std::string const kRemoveMissing =
    "\"found != _list.End()\" - void __cdecl Qel::Chart::Core::Dependencies::Remove(const class "
    "Qel::Chart::Core::IModifiable &)";
/// A change of a walked list, less the operation's name and parameters ("Insert" + kModifiableArgument).
inline std::string const kWalkedListRefused =
    "\"!IsBeingWalked() && \"Dependencies changed while a propagation walks them.\"\" - void __cdecl "
    "Qel::Chart::Core::Dependencies::";
inline std::string const kModifiableArgument = "(const class Qel::Chart::Core::IModifiable &)";
/// The touch enums as the walk's helpers take them.
inline std::string const kTouchEnums =
    "const enum Qel::Chart::Core::IModifiable::ModifiableType,const enum Qel::Chart::Core::IModifiable::Change,"
    "const enum Qel::Chart::Core::IModifiable::Relationship";
/// The originator, name and value of a touch.
inline std::string const kTouchPayload = "const class Qel::Chart::Core::WeakPtr<class Qel::Chart::Core::Node> &," +
                                         kStringArgument + ",const class boost::any &";
/// The walk met a dependent that is no node (a property) in a dependents list.
inline std::string const kNotATracker =
    "\"void*(tracker)\" - void __cdecl `anonymous-namespace'::CallTouch(class Qel::Chart::Core::Dependencies &," +
    kTouchEnums + " &," + kTouchPayload + ",unsigned int &)";
/// PropertyMap::Get of a name, and of a position, that the node does not have.
inline std::string const kPropertyNameMiss =
    "class Qel::Chart::Core::IProperty &__cdecl Qel::Chart::Core::PropertyMap::Get(" + kStringArgument +
    ") const @line41";
inline std::string const kPropertyIndexMiss =
    "\"0 <= (int)p_index < (int)_properties.Size()\" - class Qel::Chart::Core::IProperty &__cdecl "
    "Qel::Chart::Core::PropertyMap::Get(const unsigned __int64) const";
/// A second property of one name on a node.
inline std::string const kDuplicateProperty =
    "\"Find(p_property.Name()) == -1\" - void __cdecl Qel::Chart::Core::PropertyMap::Create(class "
    "Qel::Chart::Core::IProperty &)";
/// ExplicitRefMap::Get of a name, and of a position, that the node does not have.
inline std::string const kRefNameMiss =
    "\"(idx != -1) && \"Failed to find Explicit Ref with given name!\"\" - class Qel::Chart::Core::IExplicitRef "
    "&__cdecl Qel::Chart::Core::ExplicitRefMap::Get(" +
    kStringArgument + ") const";
inline std::string const kRefIndexMiss =
    "\"p_index >= 0 && p_index < _refs.Size()\" - class Qel::Chart::Core::IExplicitRef &__cdecl "
    "Qel::Chart::Core::ExplicitRefMap::Get(const unsigned __int64) const";
/// A ModifiablePtr made from an expired identifier.
inline std::string const kExpiredHandle =
    "\"!p_id.Expired() && \"Cannot pass an expired pointer\"\" - __cdecl "
    "Qel::Chart::Core::ModifiablePtr::ModifiablePtr(class Qel::Chart::Core::IModifiable::Identifier)";

}  // namespace qeltest

#endif
