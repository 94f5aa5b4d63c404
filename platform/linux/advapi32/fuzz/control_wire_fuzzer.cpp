// The messages of the start channel and the control socket (parseHello,
// parseSetup, parseSetupAnswer, parseControlRequest, parseControlReply)
// against readers written here over byte offsets, with words put together
// from single bytes; and round trips: whatever parses encodes back to the
// very bytes it came from, and a setup made of the input's bytes reads back
// as written.
#include "byte_source.h"
#include "fuzz_check.h"
#include "wire_messages.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace library = quillon::advapi32;
using quillon::fuzz::expect;
using quillon::fuzz::expectEqual;

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the reference reads words in little-endian order");

// The bytes as offsets: a word at `at`, a text at `at`, nothing past the end.
class Offsets {
public:
    explicit Offsets(std::string_view bytes) : bytes_(bytes) {}
    bool word(std::uint32_t& value)
    {
        if (at_ + 4 > bytes_.size())
            return false;
        value = 0;
        for (int i = 3; i >= 0; --i)
            value = (value << 8) | static_cast<std::uint8_t>(bytes_[at_ + static_cast<std::size_t>(i)]);
        at_ += 4;
        return true;
    }
    bool text(std::string& value)
    {
        std::uint32_t length = 0;
        if (!word(length) || length > bytes_.size() - at_)
            return false;
        value.assign(bytes_.data() + at_, length);
        at_ += length;
        return true;
    }
    bool done() const { return at_ == bytes_.size(); }
private:
    std::string_view bytes_;
    std::size_t at_ = 0;
};

std::optional<std::uint32_t> referenceHello(std::string_view bytes)
{
    Offsets in(bytes);
    std::uint32_t magic = 0, pid = 0;
    if (!in.word(magic) || magic != 0x51534831U || !in.word(pid) || !in.done())
        return std::nullopt;
    return pid;
}

std::optional<library::SetupMessage> referenceSetup(std::string_view bytes)
{
    Offsets in(bytes);
    library::SetupMessage m;
    std::uint32_t count = 0;
    if (!in.text(m.stateDir) || !in.text(m.name) || !in.word(count) || count > 4096)
        return std::nullopt;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string argument;
        if (!in.text(argument))
            return std::nullopt;
        m.arguments.push_back(argument);
    }
    std::uint32_t status = 0, control = 0;
    if (!in.word(status) || !in.word(control) || !in.done())
        return std::nullopt;
    // Descriptors the manager hands over: never 0-2, and of a sane number.
    if (status < 3 || status > 65535 || control < 3 || control > 65535)
        return std::nullopt;
    m.statusFd = static_cast<std::int32_t>(status);
    m.controlFd = static_cast<std::int32_t>(control);
    return m;
}

std::optional<library::SetupAnswer> referenceSetupAnswer(std::string_view bytes)
{
    Offsets in(bytes);
    std::uint32_t kind = 0, error = 0;
    if (!in.word(kind))
        return std::nullopt;
    if (kind == 0x51535244U) // ready, and nothing more
        return in.done() ? std::optional<library::SetupAnswer>(library::SetupAnswer {true, 0}) : std::nullopt;
    if (kind != 0x51534646U || !in.word(error) || error == 0 || !in.done())
        return std::nullopt;
    return library::SetupAnswer {false, error};
}

std::optional<std::uint32_t> referenceControlRequest(std::string_view bytes)
{
    Offsets in(bytes);
    std::uint32_t control = 0;
    if (!in.word(control) || !in.done())
        return std::nullopt;
    return control;
}

std::optional<std::vector<std::uint32_t>> referenceControlReply(std::string_view bytes)
{
    Offsets in(bytes);
    std::vector<std::uint32_t> words(8);
    for (std::uint32_t& w : words) {
        if (!in.word(w))
            return std::nullopt;
    }
    if (!in.done())
        return std::nullopt;
    return words;
}

std::vector<std::uint32_t> wordsOf(const library::ControlReply& r)
{
    const SERVICE_STATUS& s = r.status;
    return {r.error, s.dwServiceType, s.dwCurrentState, s.dwControlsAccepted, s.dwWin32ExitCode,
            s.dwServiceSpecificExitCode, s.dwCheckPoint, s.dwWaitHint};
}

bool same(const library::SetupMessage& a, const library::SetupMessage& b)
{
    return a.stateDir == b.stateDir && a.name == b.name && a.arguments == b.arguments
        && a.statusFd == b.statusFd && a.controlFd == b.controlFd;
}

void checkParsers(std::string_view input)
{
    const auto hello = library::parseHello(input);
    const auto helloReference = referenceHello(input);
    expect(hello.has_value() == helloReference.has_value() && (!hello || hello->pid == *helloReference),
           "parseHello against the reference");
    if (hello)
        expectEqual(library::encodeHello(*hello), input, "encodeHello(parseHello(bytes)) is the bytes");

    const auto setup = library::parseSetup(input);
    const auto setupReference = referenceSetup(input);
    expect(setup.has_value() == setupReference.has_value() && (!setup || same(*setup, *setupReference)),
           "parseSetup against the reference");
    if (setup)
        expectEqual(library::encodeSetup(*setup), input, "encodeSetup(parseSetup(bytes)) is the bytes");

    const auto answer = library::parseSetupAnswer(input);
    const auto answerReference = referenceSetupAnswer(input);
    expect(answer.has_value() == answerReference.has_value()
               && (!answer || (answer->ready == answerReference->ready && answer->error == answerReference->error)),
           "parseSetupAnswer against the reference");
    if (answer)
        expectEqual(library::encodeSetupAnswer(*answer), input, "encodeSetupAnswer(parseSetupAnswer(bytes)) is the bytes");

    const auto request = library::parseControlRequest(input);
    expect(request == referenceControlRequest(input), "parseControlRequest against the reference");
    if (request)
        expectEqual(library::encodeControlRequest(*request), input, "encodeControlRequest(parseControlRequest(bytes)) is the bytes");

    const auto reply = library::parseControlReply(input);
    const auto replyReference = referenceControlReply(input);
    expect(reply.has_value() == replyReference.has_value() && (!reply || wordsOf(*reply) == *replyReference),
           "parseControlReply against the reference");
    if (reply)
        expectEqual(library::encodeControlReply(*reply), input, "encodeControlReply(parseControlReply(bytes)) is the bytes");
}

void checkWrittenSetup(std::string_view input)
{
    quillon::fuzz::ByteSource in(input);
    library::SetupMessage m;
    m.stateDir = in.text(40);
    m.name = in.text(24);
    for (std::uint8_t n = in.byte() % 6; n > 0; --n)
        m.arguments.push_back(in.text(30));
    // Mostly sane descriptors, now and then any number at all.
    const std::uint8_t how = in.byte();
    m.statusFd = (how & 1) ? static_cast<std::int32_t>(in.word()) : 3 + in.byte();
    m.controlFd = (how & 2) ? static_cast<std::int32_t>(in.word()) : 3 + in.byte();
    const auto back = library::parseSetup(library::encodeSetup(m));
    const bool sane = m.statusFd >= 3 && m.statusFd <= 65535 && m.controlFd >= 3 && m.controlFd <= 65535;
    expect(back.has_value() == sane, "a written setup reads back exactly when its descriptors are sane");
    if (back)
        expect(same(*back, m), "parseSetup(encodeSetup(setup)) is the setup");

    library::ControlReply reply;
    reply.error = in.word();
    reply.status.dwServiceType = in.word();
    reply.status.dwCurrentState = in.word();
    reply.status.dwControlsAccepted = in.word();
    reply.status.dwWin32ExitCode = in.word();
    reply.status.dwServiceSpecificExitCode = in.word();
    reply.status.dwCheckPoint = in.word();
    reply.status.dwWaitHint = in.word();
    const auto replied = library::parseControlReply(library::encodeControlReply(reply));
    expect(replied && wordsOf(*replied) == wordsOf(reply), "parseControlReply(encodeControlReply(reply)) is the reply");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    checkParsers(input);
    checkWrittenSetup(input);
    return 0;
}
