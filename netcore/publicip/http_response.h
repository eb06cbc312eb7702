// Reading an HTTP/1.1 response that the server delimited by closing the
// connection: split the head from the body, check the status, undo chunked
// transfer coding. Content-Length and every other header are ignored.
//
// Pure functions over bytes; thread-safe. Any input, including truncated
// or hostile bytes, yields a body or a PublicIPError, never a crash; the
// result is never larger than the input.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "netcore/publicip/public_ip_error.h"

namespace bcn {

using Bytes = std::vector<std::uint8_t>;

// The body of `response` (status line, headers, CR LF CR LF, body).
// - no CR LF CR LF anywhere: malformed;
// - the first line's second space-separated piece is the status, a signed
//   64-bit decimal; a missing or non-decimal piece, or one outside 64 bits,
//   counts as status 0; outside 200-299: http(status);
// - a line starting with "transfer-encoding:" (any letter case) that
//   mentions "chunked" anywhere makes the body chunked: see dechunk().
std::expected<Bytes, PublicIPError> parseHTTP(std::span<const std::uint8_t> response);

// Undoes chunked transfer coding. A size line is read up to the first ";"
// (extensions are ignored) as a hexadecimal number; size 0 ends the body
// and any trailers are ignored. Running out of lines before the zero-size
// chunk is not an error: the chunks gathered so far are the body. An empty
// or non-hexadecimal size, or a chunk longer than the bytes left, is
// malformed. The two bytes after each chunk's data are skipped unchecked.
std::expected<Bytes, PublicIPError> dechunk(std::span<const std::uint8_t> body);

}  // namespace bcn
