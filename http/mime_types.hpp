#pragma once
// The constant table from file-name extension to MIME type, and the lookup
// that names the type of a file the user picked.

#include <map>
#include <string>

namespace HttpCore {

using MimeTypeMap = std::map<std::string, std::string>;

// Extension without its dot, lower case (save the two legacy keys "N/A" and
// "atom.xml", which no lookup by file name can reach) -> MIME type.
// Built on first call; safe to call from any static initialiser.
const MimeTypeMap& mime_types();

// The same map. Bound while this library's globals are constructed, so code
// that itself runs before main should call mime_types() instead.
extern const MimeTypeMap& g_mimeTypes;

// The type of the text after the last '.' of fileName, lower-cased byte by
// byte as tolower does in the "C" locale; empty when the name has no '.' or
// the table has no such extension.
std::string mime_type_of(const std::string& fileName);

}  // namespace HttpCore
