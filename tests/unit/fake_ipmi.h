// A scripted stand-in for an IPMI interface: it records every request and
// replays the scripted answers in order, filling the response the way the
// OpenIPMI transport does.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "hvl/hvl_ipmi_interface.h"

using Bytes = std::vector<uint8_t>;

struct SentRequest {
    uint8_t netfn, lun, cmd;
    Bytes data;
};

struct ScriptedAnswer {
    int rc;        // the send operation's result; non-zero means nothing arrived
    uint8_t ccode; // completion code
    Bytes data;    // bytes after the completion code, fewer than 1024
};

inline ScriptedAnswer answer(uint8_t ccode, Bytes data = {}) { return {0, ccode, std::move(data)}; }
inline ScriptedAnswer transport_failure(int rc) { return {rc, 0, {}}; }

// A Get Device ID answer of the usual 15 bytes with the product ID in bytes 9 and 10.
inline ScriptedAnswer device_id_answer(uint16_t product_id) {
    return answer(0, {0x00, 0x81, 0x02, 0x14, 0x02, 0xBF, 0x5A, 0x31, 0x00,
                      static_cast<uint8_t>(product_id), static_cast<uint8_t>(product_id >> 8), 0x00,
                      0x00, 0x00, 0x00});
}

class FakeIpmi {
public:
    FakeIpmi() {
        intf_.fd = 3; // open, as a transport after a successful open
        intf_.opened = 1;
        intf_.send = &FakeIpmi::send;
        current = this;
    }
    ~FakeIpmi() {
        current = nullptr;
        EXPECT_TRUE(script_.empty()) << script_.size() << " scripted answers were not asked for";
    }
    FakeIpmi(const FakeIpmi &) = delete;
    FakeIpmi &operator=(const FakeIpmi &) = delete;

    IpmiIntf *intf() { return &intf_; }
    FakeIpmi &then(ScriptedAnswer next) {
        script_.push_back(std::move(next));
        return *this;
    }

    std::vector<SentRequest> sent; // every request so far

private:
    static inline FakeIpmi *current = nullptr;

    // As the transport fills it: after success the data start at data[0] and
    // are followed by a 0; after an error code they start with the code.
    static int send(IpmiIntf *intf, const IpmiRequest *request, IpmiResponse *response) {
        FakeIpmi *self = current;
        EXPECT_EQ(intf, &self->intf_);
        const Bytes data(request->data, request->data + request->data_len);
        self->sent.push_back({request->netfn, request->lun, request->cmd, data});
        if (self->script_.empty()) {
            ADD_FAILURE() << "request without a scripted answer";
            return 74;
        }
        const ScriptedAnswer next = self->script_.front();
        self->script_.pop_front();
        if (next.rc == 0) {
            response->ccode = next.ccode;
            response->data_len = static_cast<int32_t>(next.data.size());
            response->data[0] = next.ccode;
            uint8_t *end = std::copy(next.data.begin(), next.data.end(),
                                     response->data + (next.ccode == 0 ? 0 : 1));
            if (next.ccode == 0) {
                *end = 0;
            }
        }
        return next.rc;
    }

    IpmiIntf intf_{};
    std::deque<ScriptedAnswer> script_;
};
