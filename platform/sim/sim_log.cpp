// The transaction log of the simulated board: kept in memory for tests and appended as one
// text line per operation to DIR/devices.log for the simulator's user.
#include "platform/sim/sim_board.h"
#include "platform/sim/sim_state.h"

#include <cstdio>
#include <unistd.h>

namespace {

constexpr const char *op_names[] = {
    "select", "write", "read", "smbus-read", "smbus-write", "info", "erase", "pread", "pwrite",
    "sleep", "write", "sync", "rename",
};

} // namespace

std::string sim_event_text(const SimEvent &e)
{
    char buf[96];
    std::string line = e.device.empty() ? std::string() : e.device + " ";
    line += op_names[static_cast<int>(e.op)];
    switch (e.op) {
    case SimOp::I2cSelect:
    case SimOp::I2cWrite:
    case SimOp::I2cRead:
    case SimOp::SmbusRead:
    case SimOp::SmbusWrite:
        std::snprintf(buf, sizeof buf, " 0x%02x", e.address);
        line += buf;
        for (uint8_t b : e.bytes) {
            std::snprintf(buf, sizeof buf, " %02x", b);
            line += buf;
        }
        break;
    case SimOp::MtdInfo:
        break;
    case SimOp::MtdErase:
    case SimOp::MtdRead:
    case SimOp::MtdWrite:
        std::snprintf(buf, sizeof buf, " 0x%x+0x%x", e.offset, e.length);
        line += buf;
        break;
    case SimOp::Sleep:
        std::snprintf(buf, sizeof buf, " %uus", e.length);
        line += buf;
        break;
    case SimOp::FileWrite:
        std::snprintf(buf, sizeof buf, " %u", e.length);
        line += " " + e.path + buf;
        break;
    case SimOp::FileSync:
    case SimOp::FileRename:
        line += " " + e.path;
        break;
    }
    if (e.nor_fault)
        line += " nor-fault";
    if (e.error != 0) {
        std::snprintf(buf, sizeof buf, " error %d", e.error);
        line += buf;
    }
    return line;
}

void sim_record(const SimEvent &event)
{
    SimState &s = sim_state();
    s.events.push_back(event);
    if (s.log_fd >= 0) {
        std::string line = sim_event_text(event) + "\n";
        // One write per line keeps lines whole when several processes share the file.
        if (::write(s.log_fd, line.data(), line.size()) < 0)
            return;
    }
}

const std::vector<SimEvent> &sim_events()
{
    return sim_state().events;
}

void sim_events_clear()
{
    sim_state().events.clear();
}
