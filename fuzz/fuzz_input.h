// Splits a fuzzer's input into answers: each is a flag byte, a two-byte
// length (most significant first) and that many bytes, cut short where the
// input ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hvl/hvl_ipmi_interface.h"

struct FuzzAnswer {
    uint8_t flags = 0;
    const uint8_t *bytes = nullptr;
    size_t size = 0;
    bool present = false;
};

class FuzzInput {
public:
    FuzzInput(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    FuzzAnswer next() {
        FuzzAnswer answer;
        if (at_ + 3 > size_) {
            return answer;
        }
        answer.present = true;
        answer.flags = data_[at_];
        const size_t wanted = (size_t{data_[at_ + 1]} << 8) | data_[at_ + 2];
        at_ += 3;
        answer.bytes = data_ + at_;
        answer.size = wanted < size_ - at_ ? wanted : size_ - at_;
        at_ += answer.size;
        return answer;
    }

    bool more() const { return at_ < size_; }

private:
    const uint8_t *data_;
    size_t size_;
    size_t at_ = 0;
};

// What a send operation does with the input's next answer (completion code
// first): 0 with the answer in `response`, or 74 (no answer) once the input
// has none. A request that claims data without a pointer to them traps.
inline int replay_answer(FuzzInput &input, const IpmiRequest *request, IpmiResponse *response) {
    if (request->data_len > 0 && request->data == nullptr) {
        __builtin_trap();
    }
    const FuzzAnswer answer = input.next();
    if (!answer.present || answer.size == 0) {
        return 74;
    }
    const size_t length = answer.size - 1 < IPMI_MAX_DATA_LEN ? answer.size - 1 : IPMI_MAX_DATA_LEN;
    response->ccode = answer.bytes[0];
    memcpy(response->data, answer.bytes + 1, length);
    response->data_len = static_cast<int32_t>(length);
    return 0;
}

// An interface as a successful open leaves it, whose requests `send` answers.
inline IpmiIntf replaying_intf(int (*send)(IpmiIntf *, const IpmiRequest *, IpmiResponse *)) {
    IpmiIntf intf{};
    intf.fd = 3;
    intf.opened = 1;
    intf.send = send;
    return intf;
}

// An interface whose requests take the input's answers in turn, for as long
// as it lives: what most targets drive the library through.
class ReplayingIntf {
public:
    explicit ReplayingIntf(FuzzInput &input) : intf_(replaying_intf(&ReplayingIntf::send)) {
        current() = &input;
    }
    ~ReplayingIntf() { current() = nullptr; }
    ReplayingIntf(const ReplayingIntf &) = delete;
    ReplayingIntf &operator=(const ReplayingIntf &) = delete;

    IpmiIntf *get() { return &intf_; }

private:
    static FuzzInput *&current() {
        static FuzzInput *input = nullptr;
        return input;
    }
    static int send(IpmiIntf * /*intf*/, const IpmiRequest *request, IpmiResponse *response) {
        return replay_answer(*current(), request, response);
    }

    IpmiIntf intf_;
};
