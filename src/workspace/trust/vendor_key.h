// The vendor's public key this program was built with: the build setting
// UPDATE_PUBLIC_KEY, against which downloads are checked.
#pragma once

#include "workspace/trust/signature.h"

#include <optional>
#include <string_view>

namespace quill {

// Whether this program checks what it downloads: built with the vendor's key.
bool archivesAreSigned();

// The built-in key, or nullopt for a program built without one, which checks
// nothing. Raises AppError when the built-in text is not a key.
const std::optional<PublicKey>& vendorPublicKey();

// The key a build setting's text gives: nullopt for "", the key for the base64
// of 32 bytes. Raises AppError for anything else: a key that cannot be read
// must refuse downloads, never let them through unchecked.
std::optional<PublicKey> keyFromBuildSetting(std::string_view text);

// Tests only: from now on vendorPublicKey() gives `key` (nullopt: none) in
// place of the built-in key, until useBuiltInVendorKey(). The program never
// calls either: its key is the one it was built with.
void useVendorKeyForTests(std::optional<PublicKey> key);
void useBuiltInVendorKey();

}  // namespace quill
