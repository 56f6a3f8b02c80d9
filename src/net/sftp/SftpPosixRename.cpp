#include "SftpPosixRename.h"

#include <cstdint>

namespace {

void PutU32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += char((v >> shift) & 0xFF);
}

void PutString(std::string& out, const std::string& s) {
    PutU32(out, uint32_t(s.size()));
    out += s;
}

uint32_t GetU32(const unsigned char* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

bool ReadExactly(ssh_channel channel, unsigned char* into, uint32_t count) {
    for (uint32_t got = 0; got < count;) {
        const int n = ssh_channel_read(channel, into + got, count - got, 0);
        if (n <= 0) return false;
        got += uint32_t(n);
    }
    return true;
}

// A status reply is far smaller; anything larger is not one.
constexpr uint32_t MaxReply = 64 * 1024;

} // namespace

int SftpPosixRename(sftp_session sftp, const std::string& from, const std::string& to) {
    // libssh has no request of its own outstanding here, and reads each
    // reply exactly: the next packet on the channel is this one's answer.
    const uint32_t id = ++sftp->id_counter;
    std::string body;
    body += char(SSH_FXP_EXTENDED);
    PutU32(body, id);
    PutString(body, "posix-rename@openssh.com");
    PutString(body, from);
    PutString(body, to);
    std::string packet;
    PutString(packet, body);
    if (ssh_channel_write(sftp->channel, packet.data(), uint32_t(packet.size())) !=
        int(packet.size()))
        return -1;
    unsigned char head[4];
    if (!ReadExactly(sftp->channel, head, 4)) return -1;
    const uint32_t length = GetU32(head);
    if (length < 9 || length > MaxReply) return -1;
    std::string reply(length, '\0');
    auto* bytes = reinterpret_cast<unsigned char*>(reply.data());
    if (!ReadExactly(sftp->channel, bytes, length)) return -1;
    if (bytes[0] != SSH_FXP_STATUS || GetU32(bytes + 1) != id) return -1;
    const int status = int(GetU32(bytes + 5));
    sftp->errnum = status;
    return status;
}
