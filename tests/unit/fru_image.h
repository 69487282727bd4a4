// A FRU device behind a stand-in interface: it answers the Storage requests
// from an image in memory, as the IPMC does, and stores what is written. A
// word-accessed device takes offsets in words and counts its answers in
// words.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "hvl/hvl_ipmi_interface.h"

class FruImage {
public:
    using Bytes = std::vector<uint8_t>;

    // Where the areas of the made image start.
    static constexpr int kInternal = 8;
    static constexpr int kBoard = 24;
    static constexpr int kProduct = 104;
    static constexpr int kRecords = 136;
    static constexpr int kFileIdAt = 26; // the board's FRU file ID, from the area's start

    explicit FruImage(Bytes image) : bytes(std::move(image)) {
        intf_.fd = 3;
        intf_.opened = 1;
        intf_.send = &FruImage::send;
        current = this;
    }
    ~FruImage() { current = nullptr; }
    FruImage(const FruImage &) = delete;
    FruImage &operator=(const FruImage &) = delete;

    // An image with every area: internal use, board (with these custom
    // fields, by default a MAC text), product and two multirecords.
    static FruImage made(const std::vector<std::string> &custom = {"MAC=02:00:00:00:00:01/3"}) {
        Bytes image(160, 0);
        const Bytes header = {0x01, kInternal / 8, 0, kBoard / 8, kProduct / 8, kRecords / 8, 0};
        std::copy(header.begin(), header.end(), image.begin());
        image[7] = checksum_of(image.data(), 7);
        image[kInternal] = 0x01;
        for (int i = 1; i < 16; ++i) {
            image[static_cast<size_t>(kInternal + i)] = static_cast<uint8_t>(0x10 + i);
        }
        std::vector<std::string> board = {"Maker", "Board", "S01", "P01", "F1"};
        board.insert(board.end(), custom.begin(), custom.end());
        place_area(image, kBoard, kProduct - kBoard, {0x60, 0x1A, 0x0B}, board); // with a date
        place_area(image, kProduct, kRecords - kProduct, {},
                   {"Maker", "Prd", "PN", "v2", "SN", "AT", "F2"});
        const Bytes records = {0x01, 0x02, 0x02, 0x00, 0x00, 0x34,
                               0x12, 0xC0, 0x82, 0x00, 0x00, 0x00};
        std::copy(records.begin(), records.end(), image.begin() + kRecords);
        image[kRecords + 3] = checksum_of(&image[kRecords + 5], 2);
        image[kRecords + 4] = checksum_of(&image[kRecords], 4);
        image[kRecords + 11] = checksum_of(&image[kRecords + 7], 4);
        return FruImage(image);
    }

    static uint8_t checksum_of(const uint8_t *data, int length) {
        unsigned sum = 0;
        for (int i = 0; i < length; ++i) {
            sum += data[i];
        }
        return static_cast<uint8_t>(0x100 - (sum & 0xFF));
    }
    static void set_offset(Bytes &image, int slot, uint8_t value) {
        image[static_cast<size_t>(slot)] = value;
        image[7] = checksum_of(image.data(), 7);
    }
    static void fix_area_checksum(Bytes &image, int area) {
        const int length = image[static_cast<size_t>(area + 1)] * 8;
        image[static_cast<size_t>(area + length - 1)] = checksum_of(&image[area], length - 1);
    }
    static void set_area_length(Bytes &image, int area, uint8_t units) {
        image[static_cast<size_t>(area + 1)] = units;
    }
    static void clear_end_of_list(Bytes &image) {
        image[kRecords + 8] &= 0x7F;
        image[kRecords + 11] = checksum_of(&image[kRecords + 7], 4);
    }

    IpmiIntf *intf() { return &intf_; }

    Bytes bytes;
    bool words = false;
    uint8_t stuck_bit = 0; // bits every stored byte loses
    int writes = 0;        // Write FRU Data requests answered
    int requests = 0;

private:
    static void place_area(Bytes &image, int at, int length, const Bytes &date,
                           const std::vector<std::string> &texts) {
        Bytes area = {0x01, 0x00, 0x00};
        area.insert(area.end(), date.begin(), date.end());
        for (const std::string &text : texts) {
            area.push_back(static_cast<uint8_t>(0xC0 | text.size()));
            area.insert(area.end(), text.begin(), text.end());
        }
        area.push_back(0xC1);
        EXPECT_LT(area.size(), static_cast<size_t>(length)) << "the fields fit the area";
        area.resize(static_cast<size_t>(length), 0);
        area[1] = static_cast<uint8_t>(area.size() / 8);
        area.back() = checksum_of(area.data(), static_cast<int>(area.size()) - 1);
        std::copy(area.begin(), area.end(), image.begin() + at);
    }

    static int send(IpmiIntf * /*intf*/, const IpmiRequest *request, IpmiResponse *response) {
        FruImage &self = *current;
        ++self.requests;
        const uint8_t *in = request->data;
        const int unit = self.words ? 2 : 1;
        const auto size = static_cast<int>(self.bytes.size());
        response->ccode = 0;
        response->data_len = 0;
        if (request->netfn != 0x0A || request->data_len < 1 || in[0] != 0) {
            response->ccode = 0xCB;
            return 0;
        }
        if (request->cmd == 0x10) {
            const uint8_t answer[] = {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                                      static_cast<uint8_t>(self.words ? 1 : 0)};
            std::copy(std::begin(answer), std::end(answer), response->data);
            response->data_len = 3;
            return 0;
        }
        const int offset = (in[1] | in[2] << 8) * unit;
        if (request->cmd == 0x11 && request->data_len == 4) {
            const int count = std::min<int>(in[3] / unit * unit, size - offset);
            if (count < 0) {
                response->ccode = 0xC9;
                return 0;
            }
            response->data[0] = static_cast<uint8_t>(count / unit);
            std::copy_n(self.bytes.begin() + offset, count, response->data + 1);
            response->data_len = count + 1;
            return 0;
        }
        if (request->cmd == 0x12 && request->data_len >= 3) {
            const int count = request->data_len - 3;
            if (offset + count > size) {
                response->ccode = 0xC9;
                return 0;
            }
            ++self.writes;
            for (int i = 0; i < count; ++i) {
                self.bytes[static_cast<size_t>(offset + i)] = in[3 + i] & ~self.stuck_bit;
            }
            response->data[0] = static_cast<uint8_t>(count / unit);
            response->data_len = 1;
            return 0;
        }
        response->ccode = 0xC1;
        return 0;
    }

    static inline FruImage *current = nullptr;
    IpmiIntf intf_{};
};
