#pragma once

#include "apirequest.h"

#include <QString>

class MultipartForm;

// The form the interface gives each request beyond its path and method,
// held to the letter: a client that departs from it is refused here as a
// strict service refuses it, so the client's tests see the refusal. Each
// check returns an empty text when the request is in shape, else why not.
namespace requestshape {

// A JSON request (log-in, preset list, job status): Content-Type
// application/json, parameters such as a charset allowed.
QString jsonRequest(const ApiRequest& request);
// The log-in: a JSON request that carries no Authorization header.
QString logIn(const ApiRequest& request);
// A result download: Authorization alone, no Content-Type.
QString resultRequest(const ApiRequest& request);
// The upload's form: exactly the parts file, presetId and acceptAnyway in
// this order; the file with a file name; presetId in decimal digits;
// acceptAnyway "true" or "false"; the two values without file names or
// types of their own.
QString uploadForm(const MultipartForm& form);
// The file part's type: audio/wav or audio/mpeg (the service answers 415
// for any other).
QString uploadType(const MultipartForm& form);

} // namespace requestshape
