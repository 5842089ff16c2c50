#include "common/log_tags.h"

namespace Core_Common {

// One row per line, as the table reads.
// clang-format off
const log_tag_t log_tag_table[log_tag_row_count] = {
    {"[CORE]        ", 1},
    {"[GUI]         ", 1},
    {"[SOCKET_TCP]  ", 1},
    {"[SOCKET_UDP]  ", 1},
    {"[SOCKET_ARP]  ", 1},
    {"[WIRE]        ", 1},
    {"[WIRE_PROXY]  ", 1},
    {"[UDP2TCP]     ", 1},
    {"[HTTP_CLIENT] ", 1},
    {"[HTTP_SERVER] ", 1},
    {"[P2SP_UDP]    ", 1},
    {"[FTP_CLIENT]  ", 1},
    {"[MULTI_DL]    ", 1},
    {"[QXSP_CLIENT] ", 1},
    {"[QXSP_SERVER] ", 1},
    {"[P2SP_CLIENT] ", 1},
    {"[P2SP_SERVER] ", 1},
    {"[BT_TRACKER]  ", 1},
    {"[BT_TASK]     ", 1},
    {"[BT_MESSAGE]  ", 1},
    {"[BT_PEERS]    ", 1},
    {"[QX_STREAM]   ", 1},
    {"[DHT]         ", 1},
    {"[UPNP]        ", 1},
    {"[AUTO_UPDATE] ", 1},
    {"[TCP_PATCH]   ", 1},
    {"[MEDIA_PLAY]  ", 1},
    {"[IPC]         ", 1},
    {"[LUA]         ", 1},
    {"[SERVICE]     ", 1},
    {"[EMULE]       ", 1},
    {"[QX_IP]       ", 1},
    {"[QX_INFO]     ", 1},
    {"[TASK_MANAGE] ", 1},
    {"[SOFT_UPDATE] ", 1},
    {"[NORMAL]    ", 1},
    {"[DEBUG]     ", 1},
    {"[WARNING]   ", 1},
    {"[ERROR]     ", 1},
};
// clang-format on

}  // namespace Core_Common
