#include "CompositePropertyBase.h"

#include "DebugStream.h"
#include "Node.h"
#include "PropertyCreator.h"

namespace Qel {
namespace Chart {
namespace Core {

CompositePropertyBase::CompositePropertyBase(Node& p_node, std::string const& p_name)
    : _parent(&p_node), _baseName(p_name + "."), _time(), _subjects(), _times() {}

CompositePropertyBase::CompositePropertyBase(CompositePropertyBase& p_enclosing, std::string const& p_name)
    : _parent(p_enclosing._parent), _baseName(p_enclosing._baseName + p_name + "."), _time(), _subjects(), _times() {}

CompositePropertyBase::~CompositePropertyBase() {
    Private::ReportEndedEarly(*_parent, Private::ReportText(Private::Report::CompositeEndedEarly));
}

std::string const CompositePropertyBase::Name() const { return _baseName; }

IModifiable& CompositePropertyBase::Modifiable() const { return PropertyCreator::ToModifiable(*_parent); }

void CompositePropertyBase::Watch(IModifiable const& p_part) {
    ModifiablePtr handle(p_part.Id());
    if (!handle) {
        // The handle refused an expired part; when its report returns, the
        // part is still refused, since its stamp cannot be read.
        throw qeldebug::check_failed(Private::ReportText(Private::Report::ExpiredPointer));
    }
    _subjects.push_back(handle);
    try {
        _times.push_back(_subjects.back()->Time());
    } catch (...) {
        _subjects.pop_back();  // both vectors stay the same length
        throw;
    }
    if (_subjects.size() != _times.size()) {
        Private::ReportEnsure(Private::Report::WatchListsOutOfStep);
    }
}

IModifiable::Identifier CompositePropertyBase::Id() const {
    IModifiable::Identifier const nodeId = Modifiable().Id();
    return IModifiable::Identifier(const_cast<CompositePropertyBase*>(this), nodeId.Lifetime());
}

TimeStamp const CompositePropertyBase::Time() const {
    bool changed = false;
    for (std::size_t i = 0; i < _subjects.size(); ++i) {
        // A part that is gone can change no more; it is skipped.
        if (!_subjects[i]) {
            continue;
        }
        TimeStamp const now = _subjects[i]->Time();
        if (now != _times[i]) {
            _times[i] = now;
            changed = true;
        }
    }
    if (changed) {
        _time.Touch();
    }
    return _time;
}

void CompositePropertyBase::TouchThis(IModifiable::ModifiableType type, IModifiable::Change change,
                                      IModifiable::Relationship relationship, WeakPtr<Node> const& p_originator,
                                      std::string const& name, boost::any const& value) {
    for (std::size_t i = 0; i < _subjects.size(); ++i) {
        if (!_subjects[i]) {
            continue;
        }
        _subjects[i]->TouchThis(type, change, relationship, p_originator, name, value);
        _times[i] = _subjects[i]->Time();
    }
    _time.Touch();
    Modifiable().TouchThis(type, change, relationship, p_originator, name, value);
}

}  // namespace Core
}  // namespace Chart
}  // namespace Qel
