#include "sync_client/sync_payload.h"

#include <cstdint>

#include "common/big_endian.h"
#include "common/crypto.h"
#include "common/gzip.h"

namespace Core_ZorvaneClient {
namespace {

void put_be32(std::string& out, std::uint32_t value) { Core_Common::put_be(out, value, 4); }

std::uint32_t get_be32(const std::string& in, std::size_t offset) {
    return static_cast<std::uint32_t>(Core_Common::get_be(in, offset, 4));
}

Core_Common::service_error_t invalid_payload() {
    return Core_Common::service_error_t{Core_Common::SERVICE_PROTOCOL_ERROR,
                                        kInvalidExtendProtocolText};
}

}  // namespace

std::string make_payload(std::string_view xml_part, std::string_view data_part) {
    std::string payload;
    payload.reserve(8 + xml_part.size() + data_part.size());
    put_be32(payload, static_cast<std::uint32_t>(xml_part.size()));
    put_be32(payload, static_cast<std::uint32_t>(data_part.size()));
    payload.append(xml_part);
    payload.append(data_part);
    return payload;
}

std::string make_payload_around(std::string_view xml_part, std::string&& data_part) {
    std::string prefix;
    prefix.reserve(8 + xml_part.size());
    put_be32(prefix, static_cast<std::uint32_t>(xml_part.size()));
    put_be32(prefix, static_cast<std::uint32_t>(data_part.size()));
    prefix.append(xml_part);
    std::string payload = std::move(data_part);
    payload.insert(0, prefix);
    return payload;
}

bool pack_message(std::string_view xml_part, const data_writer_t& write_data, std::string& body,
                  std::size_t& data_size) {
    data_size = 0;
    Core_Common::gzip_writer_t packer;
    bool packed = true;
    write_data([&](std::string_view piece) {
        data_size += piece.size();
        packed = packed && packer.add(piece);
    });
    // The lengths come first in the payload but are known only now: they
    // and the document are packed last and put in front.
    std::string head;
    head.reserve(8 + xml_part.size());
    put_be32(head, static_cast<std::uint32_t>(xml_part.size()));
    put_be32(head, static_cast<std::uint32_t>(data_size));
    head.append(xml_part);
    return packed && packer.finish_after(head, body) &&
           Core_Common::encrypt(kMessagePassphrase, body);
}

bool pack_payload(std::string& payload) {
    return Core_Common::gzip_compress(payload) && Core_Common::encrypt(kMessagePassphrase, payload);
}

Core_Common::service_error_t split_payload(std::string& buffer, std::string& xml_part) {
    if (buffer.size() < 8) {
        return invalid_payload();
    }
    const std::uint64_t x = get_be32(buffer, 0);
    const std::uint64_t d = get_be32(buffer, 4);
    if (x > buffer.size() - 8) {
        return invalid_payload();
    }
    xml_part.assign(buffer, 8, static_cast<std::size_t>(x));
    buffer.erase(0, 8 + static_cast<std::size_t>(x));
    if (buffer.size() != d) {
        return invalid_payload();
    }
    return Core_Common::service_error_t{};
}

bool open_reply(std::string body, Core_Common::xml_node_t& document, std::string& data_part) {
    if (!Core_Common::decrypt(kMessagePassphrase, body)) return false;
    if (!Core_Common::gzip_decompress(body)) return false;
    std::string xml_part;
    if (split_payload(body, xml_part).is_error()) return false;
    if (xml_part.size() > kMaxReplyXmlBytes) return false;
    Core_Common::xml_limits_t limits;
    limits.max_depth = kMaxReplyXmlDepth;
    limits.max_elements = kMaxReplyXmlElements;
    if (!document.parse(xml_part, limits)) return false;
    if (document.find_path(u"Zorvane/Response") == nullptr) return false;
    data_part = std::move(body);
    return true;
}

}  // namespace Core_ZorvaneClient
