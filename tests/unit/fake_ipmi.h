// A scripted stand-in for an IPMI interface: it records every request's
// bytes and replays the scripted answers in order, filling the response the
// way the OpenIPMI transport does.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <vector>

#include "hvl/hvl_ipmi_interface.h"

struct SentRequest {
    uint8_t netfn, lun, cmd;
    std::vector<uint8_t> data;
};

struct ScriptedAnswer {
    int rc;                    // the send operation's result; non-zero means nothing arrived
    uint8_t ccode;             // completion code
    std::vector<uint8_t> data; // bytes after the completion code
};

inline ScriptedAnswer answer(uint8_t ccode, std::vector<uint8_t> data = {}) {
    return {0, ccode, std::move(data)};
}

inline ScriptedAnswer transport_failure(int rc) { return {rc, 0, {}}; }

// A Get Device ID answer of the usual 15 bytes with the product ID in bytes 9 and 10.
inline ScriptedAnswer device_id_answer(uint16_t product_id) {
    return answer(0x00, {0x00, 0x81, 0x02, 0x14, 0x02, 0xBF, 0x5A, 0x31, 0x00,
                         static_cast<uint8_t>(product_id), static_cast<uint8_t>(product_id >> 8),
                         0x00, 0x00, 0x00, 0x00});
}

class FakeIpmi {
public:
    FakeIpmi() {
        intf_.fd = 3;
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
    const std::vector<SentRequest> &sent() const { return sent_; }
    const SentRequest &last() const { return sent_.back(); }

private:
    static inline FakeIpmi *current = nullptr;

    static int send(IpmiIntf *intf, const IpmiRequest *request, IpmiResponse *response) {
        FakeIpmi *self = current;
        EXPECT_EQ(intf, &self->intf_);
        const uint8_t *bytes = request->data;
        self->sent_.push_back({request->netfn, request->lun, request->cmd,
                               std::vector<uint8_t>(bytes, bytes + request->data_len)});
        if (self->script_.empty()) {
            ADD_FAILURE() << "request without a scripted answer";
            return 74;
        }
        const ScriptedAnswer next = self->script_.front();
        self->script_.pop_front();
        if (next.rc == 0) {
            fill(*response, next);
        }
        return next.rc;
    }

    // As received: an error code stays in data[0]; after success the data
    // start at data[0] and are followed by a 0.
    static void fill(IpmiResponse &response, const ScriptedAnswer &next) {
        std::vector<uint8_t> received{next.ccode};
        received.insert(received.end(), next.data.begin(), next.data.end());
        received.resize(std::min<size_t>(received.size(), IPMI_MAX_DATA_LEN));
        response.ccode = next.ccode;
        response.data_len = static_cast<int32_t>(received.size() - 1);
        const size_t skip = next.ccode == 0 ? 1 : 0;
        std::copy(received.begin() + static_cast<long>(skip), received.end(), response.data);
        if (skip == 1 && response.data_len > 0) {
            response.data[response.data_len] = 0;
        }
    }

    IpmiIntf intf_{};
    std::deque<ScriptedAnswer> script_;
    std::vector<SentRequest> sent_;
};
