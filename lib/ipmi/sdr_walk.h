// What the sensor module shares inside the library about walking the IPMC's
// device SDR repository.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hvl/hvl_ipmi_sensor.h"

namespace hvl::sdr {

// The network function of every request of the sensor module.
constexpr uint8_t kNetFnSensor = 0x04;

// Where a full or compact sensor record's body holds its sensor number.
constexpr size_t kSensorNumberAt = 2;

// Headers one walk reads at most: more than there are record IDs, so a walk
// that gets this far is going round a loop of next-record IDs.
constexpr uint32_t kMaxWalkHeaders = 0x10000;

// The headers of one walk, one after another as sdr_next_header gives them,
// until the end of the repository, a failed header read, or a chain of
// next-record IDs that goes round: one that leads back to the walk's first
// record or to the record just read ends before either is read again; any
// other loop ends when it comes back to the ID remembered at the last power
// of two headers (Brent's cycle detection), before the walk has read three
// times as many headers as there are records in it. kMaxWalkHeaders stays as
// the last bound.
class Walk {
public:
    Walk(IpmiIntf *intf, SdrIterator *it) : intf_(intf), it_(it) {}

    // True with the next header in `hdr`; false when the walk has ended.
    bool next(SdrHeader *hdr);

private:
    IpmiIntf *intf_;
    SdrIterator *it_;
    uint32_t headers_ = 0;
    uint32_t first_id_ = 0;
    uint32_t last_id_ = 0;
    uint32_t remembered_id_ = 0;
};

// The size of the pieces a record read asks for now; it only shrinks.
int chunk_size();

// Puts the piece size back to its initial 255. Only the unit tests call it,
// so that each of their cases starts from the same size whatever ran before;
// the library itself never grows the size back.
void reset_chunk_size();

} // namespace hvl::sdr
