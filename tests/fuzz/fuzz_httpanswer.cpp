// The Web API client's reader of HTTP answers. The first byte sets the size
// of the pieces the rest arrives in; read whole, the same bytes must give
// the same answer, and no body may pass its bound.
#include "fuzzentry.h"
#include "pipeline/httpanswer.h"

#include <cstdlib>

namespace {

constexpr qint64 kMaxBody = 4096;

HttpAnswer read(QByteArrayView bytes, qsizetype piece)
{
    HttpAnswer answer(kMaxBody);
    for (qsizetype at = 0; at < bytes.size(); at += piece)
        answer.feed(bytes.sliced(at, qMin(piece, bytes.size() - at)));
    answer.endOfInput();
    return answer;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray input = fuzzing::bytes(data + 1, size - 1);
    const qsizetype piece = qMax<qsizetype>(1, data[0]);
    const HttpAnswer pieces = read(input, piece);
    const HttpAnswer whole = read(input, qMax<qsizetype>(1, input.size()));
    if (pieces.state() != whole.state() || pieces.body() != whole.body() || pieces.status() != whole.status())
        std::abort();
    if (pieces.body().size() > kMaxBody || (pieces.isComplete() && (pieces.status() < 200 || pieces.status() > 999)))
        std::abort();
    (void)pieces.header("Retry-After");
    return 0;
}
