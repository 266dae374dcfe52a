// Both ends of the engine channel, fed what the other end (or anything that reaches the socket) may
// send, in pieces of any size: the manager's parser and the engine's reader. What one side encodes
// the other must read back unchanged.

#include "channel_protocol.h"
#include "connection/EngineChannel.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    const std::size_t piece = 1 + data[0];
    const char* bytes = reinterpret_cast<const char*>(data) + 1;
    const std::size_t length = size - 1;

    EngineChannel manager;
    ChannelProtocol::Reader engine;
    for (std::size_t at = 0; at < length; at += piece) {
        const std::size_t count = std::min(piece, length - at);
        manager.feed(QByteArray(bytes + at, static_cast<qsizetype>(count)));
        engine.feed(bytes + at, count);
        manager.takeEvents();
        std::vector<std::string> fields;
        while (engine.next(&fields)) {
        }
    }

    // The input as one field, both ways.
    const std::string value(bytes, length);
    const std::string failure = ChannelProtocol::encode({"failure", "x", value});
    const std::string line = ChannelProtocol::encode({"hello", "1"}) + failure;
    EngineChannel back;
    back.feed(QByteArray(line.data(), static_cast<qsizetype>(line.size())));
    const QList<EngineChannel::Event> events = back.takeEvents();
    const QString text = QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
    // Only a value cut to fit the line comes back shorter.
    if (failure.size() + 3 < ChannelProtocol::kMaxLine &&
        (events.size() != 2 || events.at(1).detail != text)) {
        __builtin_trap();
    }
    const QByteArray answer = EngineChannel::answer(QStringLiteral("1"), text);
    ChannelProtocol::Reader reader;
    reader.feed(answer.constData(), static_cast<std::size_t>(answer.size()));
    std::vector<std::string> fields;
    if (answer.size() < EngineChannel::maxLineBytes &&
        (!reader.next(&fields) || fields.size() != 3 || fields[2] != text.toStdString())) {
        __builtin_trap();
    }
    return 0;
}
