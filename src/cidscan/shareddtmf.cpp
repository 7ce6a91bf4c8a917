#include "cidscan/shareddtmf.hpp"

#include <stdexcept>

namespace cidscan {

SharedDtmf::SharedDtmf(int samplingRate) : receiver_(samplingRate, *this) { last_.reserve(64); }

std::size_t SharedDtmf::listen(sigcore::EventSink& sink) {
    listeners_.push_back({&sink, 0, 0});
    return listeners_.size() - 1;
}

template <typename Step>
void SharedDtmf::take(std::size_t who, Step step) {
    Listener& l = listeners_.at(who);
    if (l.steps == steps_) {
        last_.clear();
        live_ = l.sink;
        step();
        live_ = nullptr;
        ++steps_;
    } else if (l.steps + 1 == steps_) {
        for (const sigcore::DtmfTone& tone : last_) l.sink->onEvent(tone);
    } else {
        throw std::logic_error("DTMF listeners out of step");
    }
    ++l.steps;
}

void SharedDtmf::push(std::size_t who, std::span<const std::int16_t> samples) {
    take(who, [&] { receiver_.push(samples); });
    listeners_[who].pushed += static_cast<std::int64_t>(samples.size());
}

void SharedDtmf::finish(std::size_t who) {
    take(who, [&] { receiver_.finish(); });
}

void SharedDtmf::onEvent(const sigcore::Event& event) {
    if (const auto* tone = std::get_if<sigcore::DtmfTone>(&event)) last_.push_back(*tone);
    if (live_ != nullptr) live_->onEvent(event);
}

}  // namespace cidscan
