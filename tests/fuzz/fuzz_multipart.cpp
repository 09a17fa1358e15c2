// The service's multipart form reader and header-parameter parser. The first
// line is the Content-Type header value, the rest the request body.
#include "fuzzentry.h"
#include "headerparams.h"
#include "multipartform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = fuzzing::bytes(data, size);
    const qsizetype newline = input.indexOf('\n');
    const QByteArray contentType = newline < 0 ? input : input.left(newline);
    const QByteArray body = newline < 0 ? QByteArray() : input.mid(newline + 1);

    const auto params = headerParameters(contentType);
    for (const auto& param : params) {
        QString decoded;
        decodeExtendedValue(param.second, decoded);
    }
    (void)headerParameter(params, "boundary");

    MultipartForm form;
    if (form.parse(contentType, body)) {
        for (const char* name : {"file", "presetId", "acceptAnyway"}) {
            if (const FormPart* part = form.part(name))
                (void)form.data(*part).toByteArray();
        }
    }
    return 0;
}
