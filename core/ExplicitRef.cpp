#include "ExplicitRef.h"

#include "NodeInternals.h"
#include "PropertyCreator.h"
#include "ReportTexts.h"
#include "UndoStack.h"

#include <boost/core/demangle.hpp>

#include <algorithm>

namespace Qel {
namespace Chart {
namespace Core {

namespace {
bool SameNode(WeakPtr<Node> const& p_weak, Ptr<Node> const& p_node) {
    return !p_weak.Weak().owner_before(p_node.Shared()) && !p_node.Shared().owner_before(p_weak.Weak());
}
}  // namespace

ExplicitRefBase::ExplicitRefBase(Node& p_owner, std::string p_name)
    : _owner(&p_owner), _name(std::move(p_name)), _time() {
    IExplicitRef::RegisterOn(p_owner, *this);
}

ExplicitRefBase::~ExplicitRefBase() {
    IExplicitRef::UnregisterFrom(*_owner, *this, Private::ReportText(Private::Report::ExplicitRefEndedEarly));
}

std::string const ExplicitRefBase::Name() const { return _name; }

IModifiable::Identifier ExplicitRefBase::Id() const {
    IModifiable::Identifier const ownerId = static_cast<IModifiable const&>(*_owner).Id();
    return IModifiable::Identifier(const_cast<ExplicitRefBase*>(this), ownerId.Lifetime());
}

TimeStamp const ExplicitRefBase::Time() const { return _time; }

void ExplicitRefBase::TouchThis(IModifiable::ModifiableType type, IModifiable::Change change,
                                IModifiable::Relationship relationship, WeakPtr<Node> const& p_originator,
                                std::string const& name, boost::any const& value) {
    _time.Touch();
    if (relationship == IModifiable::Self) {
        static_cast<IModifiable&>(*_owner).TouchThis(type, change, relationship, p_originator, name, value);
    }
}

void ExplicitRefBase::Dump(std::ostream& p_stream, Verbosity /*p_verbosity*/, int p_indent) const {
    std::string const indent(p_indent > 0 ? static_cast<std::size_t>(p_indent) : 0u, '\t');
    for (Ptr<Node> const& node : GetReferencees()) {
        p_stream << indent << "-> ";
        ::operator<<(p_stream, node) << "\n";
    }
}

// ---------------------------------------------------------------------------

ExplicitRef::ExplicitRef(Node& p_owner, std::string p_name) : ExplicitRefBase(p_owner, std::move(p_name)), _target() {}
ExplicitRef::~ExplicitRef() = default;

void ExplicitRef::Attach(Ptr<Node> const& p_node) {
    Private::RefEdit edit(*this);
    _target = Private::NonEmpty(p_node);
    edit.Done();
    TouchSelf(IModifiable::Add, boost::any(p_node));
}

void ExplicitRef::Detach(Ptr<Node> const& p_node) {
    if (!_target.Expired() && SameNode(_target, p_node)) {
        Private::RefEdit edit(*this);
        _target = WeakPtr<Node>();
        edit.Done();
        TouchSelf(IModifiable::Remove, boost::any(p_node));
    }
}

void ExplicitRef::Clear() {
    Private::RefEdit edit(*this);
    _target = WeakPtr<Node>();
    edit.Done();
    TouchSelf(IModifiable::Clear, boost::any());
}

void ExplicitRef::ThrowEmpty() const {
    Node const& owner = Owner();
    std::string const text = "the reference \"" + Name() + "\" of node " + Private::NodeInternals::Describe(owner) +
                             " (class " + boost::core::demangle(typeid(owner).name()) + ") references no node";
    throw NullPtrException(text.c_str());
}

std::vector<Ptr<Node>> ExplicitRef::GetReferencees() const {
    std::vector<Ptr<Node>> result;
    boost::shared_ptr<Node> const target = _target.Weak().lock();
    if (target) {
        result.push_back(Ptr<Node>(target));
    }
    return result;
}

// ---------------------------------------------------------------------------

ExplicitRefList::ExplicitRefList(Node& p_owner, std::string p_name)
    : ExplicitRefBase(p_owner, std::move(p_name)), _targets() {}
ExplicitRefList::~ExplicitRefList() = default;

void ExplicitRefList::Attach(Ptr<Node> const& p_node) {
    Private::NonEmpty(p_node);
    DropEnded();
    for (WeakPtr<Node> const& target : _targets) {
        if (!target.Expired() && SameNode(target, p_node)) {
            return;
        }
    }
    Private::RefEdit edit(*this);
    _targets.push_back(WeakPtr<Node>(p_node));
    edit.Done();
    TouchSelf(IModifiable::Add, boost::any(p_node));
}

void ExplicitRefList::Detach(Ptr<Node> const& p_node) {
    DropEnded();
    auto const found = std::find_if(_targets.begin(), _targets.end(), [&](WeakPtr<Node> const& p_target) {
        return !p_target.Expired() && SameNode(p_target, p_node);
    });
    if (found == _targets.end()) {
        return;
    }
    Private::RefEdit edit(*this);
    _targets.erase(found);
    edit.Done();
    TouchSelf(IModifiable::Remove, boost::any(p_node));
}

void ExplicitRefList::Clear() {
    Private::RefEdit edit(*this);
    _targets.clear();
    edit.Done();
    TouchSelf(IModifiable::Clear, boost::any());
}

void ExplicitRefList::DropEnded() const noexcept {
    // The weak pointers of ended nodes would keep their control blocks.
    _targets.erase(std::remove_if(_targets.begin(), _targets.end(),
                                  [](WeakPtr<Node> const& p_target) { return p_target.Expired(); }),
                   _targets.end());
}

std::vector<Ptr<Node>> ExplicitRefList::GetReferencees() const {
    DropEnded();
    std::vector<Ptr<Node>> result;
    result.reserve(_targets.size());
    for (WeakPtr<Node> const& target : _targets) {
        boost::shared_ptr<Node> const node = target.Weak().lock();
        if (node) {
            result.push_back(Ptr<Node>(node));
        }
    }
    return result;
}

}  // namespace Core
}  // namespace Chart
}  // namespace Qel
