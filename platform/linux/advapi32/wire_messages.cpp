#include "wire_messages.h"

#include "wire.h"

namespace quillon::advapi32 {

namespace {
// Every parser reads the whole payload and nothing beyond it.
template <typename Parse>
auto parseWhole(std::string_view payload, Parse parse) -> decltype(parse(std::declval<MessageReader&>()))
{
    MessageReader reader {std::string(payload)};
    auto result = parse(reader);
    if (!result || !reader.atEnd())
        return std::nullopt;
    return result;
}

SERVICE_STATUS statusFrom(const std::uint32_t (&values)[7])
{
    SERVICE_STATUS s {};
    s.dwServiceType = values[0];
    s.dwCurrentState = values[1];
    s.dwControlsAccepted = values[2];
    s.dwWin32ExitCode = values[3];
    s.dwServiceSpecificExitCode = values[4];
    s.dwCheckPoint = values[5];
    s.dwWaitHint = values[6];
    return s;
}
} // namespace

std::string encodeHello(const HelloMessage& hello)
{
    MessageWriter writer;
    writer.word(kHello);
    writer.word(hello.pid);
    return writer.payload();
}

std::optional<HelloMessage> parseHello(std::string_view payload)
{
    return parseWhole(payload, [](MessageReader& r) -> std::optional<HelloMessage> {
        const auto magic = r.word();
        const auto pid = r.word();
        if (magic != kHello || !pid)
            return std::nullopt;
        return HelloMessage {*pid};
    });
}

std::string encodeSetup(const SetupMessage& setup)
{
    MessageWriter writer;
    writer.text(setup.stateDir);
    writer.text(setup.name);
    writer.word(static_cast<std::uint32_t>(setup.arguments.size()));
    for (const auto& argument : setup.arguments)
        writer.text(argument);
    writer.word(static_cast<std::uint32_t>(setup.statusFd));
    writer.word(static_cast<std::uint32_t>(setup.controlFd));
    return writer.payload();
}

std::optional<SetupMessage> parseSetup(std::string_view payload)
{
    return parseWhole(payload, [](MessageReader& r) -> std::optional<SetupMessage> {
        SetupMessage setup;
        auto stateDir = r.text();
        auto name = r.text();
        const auto count = r.word();
        if (!stateDir || !name || !count || *count > kMaxArguments)
            return std::nullopt;
        setup.stateDir = std::move(*stateDir);
        setup.name = std::move(*name);
        for (std::uint32_t i = 0; i < *count; ++i) {
            auto argument = r.text();
            if (!argument)
                return std::nullopt;
            setup.arguments.push_back(std::move(*argument));
        }
        const auto statusFd = r.word();
        const auto controlFd = r.word();
        if (!statusFd || !controlFd || *statusFd < 3 || *statusFd > 0xFFFF || *controlFd < 3
            || *controlFd > 0xFFFF)
            return std::nullopt;
        setup.statusFd = static_cast<std::int32_t>(*statusFd);
        setup.controlFd = static_cast<std::int32_t>(*controlFd);
        return setup;
    });
}

std::string encodeSetupAnswer(const SetupAnswer& answer)
{
    MessageWriter writer;
    writer.word(answer.ready ? kReady : kFailed);
    if (!answer.ready)
        writer.word(answer.error);
    return writer.payload();
}

std::optional<SetupAnswer> parseSetupAnswer(std::string_view payload)
{
    return parseWhole(payload, [](MessageReader& r) -> std::optional<SetupAnswer> {
        const auto word = r.word();
        if (word == kReady)
            return SetupAnswer {true, ERROR_SUCCESS};
        if (word != kFailed)
            return std::nullopt;
        const auto error = r.word();
        if (!error || *error == ERROR_SUCCESS)
            return std::nullopt;
        return SetupAnswer {false, *error};
    });
}

std::string encodeControlRequest(DWORD control)
{
    MessageWriter writer;
    writer.word(control);
    return writer.payload();
}

std::optional<DWORD> parseControlRequest(std::string_view payload)
{
    return parseWhole(payload, [](MessageReader& r) -> std::optional<DWORD> { return r.word(); });
}

std::string encodeControlReply(const ControlReply& reply)
{
    MessageWriter writer;
    writer.word(reply.error);
    const SERVICE_STATUS& s = reply.status;
    for (const DWORD value : {s.dwServiceType, s.dwCurrentState, s.dwControlsAccepted, s.dwWin32ExitCode,
                              s.dwServiceSpecificExitCode, s.dwCheckPoint, s.dwWaitHint})
        writer.word(value);
    return writer.payload();
}

std::optional<ControlReply> parseControlReply(std::string_view payload)
{
    return parseWhole(payload, [](MessageReader& r) -> std::optional<ControlReply> {
        const auto error = r.word();
        std::uint32_t values[7] = {};
        for (std::uint32_t& value : values) {
            const auto word = r.word();
            if (!word)
                return std::nullopt;
            value = *word;
        }
        if (!error)
            return std::nullopt;
        return ControlReply {*error, statusFrom(values)};
    });
}

} // namespace quillon::advapi32
