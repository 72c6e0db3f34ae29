// Any bytes as signed metadata (version.txt, manifest.txt, a key link, a timestamp) or as
// signing.ini. The signature check would refuse almost every input, so the
// readers behind it are called directly: each ends in a value or a refusal,
// never a crash, and what it takes it reads one way only.
#include "workspace/trust/signed_metadata.h"
#include "workspace/trust/vendor_metadata.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void require(bool holds) {
    if (!holds) std::abort();
}

// The text the vendor's tools would write for what was read.
std::string written(const quill::MetadataText& text) {
    std::string out;
    for (const auto& name : text.order) {
        out += "[" + name + "]\r\n";
        for (const auto& [key, value] : text.sections.at(name)) out += key + "=" + value + "\r\n";
    }
    return out;
}

bool sameText(const quill::MetadataText& a, const quill::MetadataText& b) {
    return a.order == b.order && a.sections == b.sections;
}

void checkRead(const quill::MetadataText& text) {
    require(text.order.size() == text.sections.size());
    for (const auto& name : text.order) require(text.sections.count(name) == 1);
    // Written again and read back, it is the same: no line means two things.
    const auto again = quill::parseMetadata(written(text));
    require(again && sameText(*again, text));
    for (const auto& [name, section] : text.sections) {
        if (const auto header = quill::metadataHeaderOf(section)) {
            require(header->serial <= quill::kMostWholeNumber);
            require(quill::parseUtcTime(quill::formatUtcTime(header->expires)) == header->expires);
        }
        if (const auto archive = quill::signedArchiveOf(section)) {
            require(archive->sha256.size() == 64);
            require(archive->sha256.find_first_not_of("0123456789abcdef") == std::string::npos);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    if (const auto text = quill::parseMetadata(bytes)) checkRead(*text);

    // A moment is read in one form only: the one it is written in.
    const std::string_view head = std::string_view(bytes).substr(0, 20);
    if (const auto moment = quill::parseUtcTime(head)) require(quill::formatUtcTime(*moment) == head);
    if (const auto number = quill::wholeNumber(head)) require(*number <= quill::kMostWholeNumber);

    // A link names a key only as key N of the chain, for one N.
    for (int number = 2; number <= 3; ++number) {
        const auto key = quill::keyOfLink(bytes, number);
        if (!key) continue;
        require(!quill::keyOfLink(bytes, number == 2 ? 3 : 2));
        require(quill::publicKeyToBase64(*key) == quill::parseMetadata(bytes)->sections.at("key").at("key"));
    }

    // A link's online key, when it names one, is a key read one way only.
    if (const auto link = quill::chainLinkOf(bytes, 2)) {
        const auto text = quill::parseMetadata(bytes);
        const auto& section = text->sections.at("key");
        require(quill::keyOfLink(bytes, 2).has_value());
        require(link->online.has_value() == (section.count("online") == 1));
        if (link->online) require(quill::publicKeyToBase64(*link->online) == section.at("online"));
    }

    // A timestamp describes one file, by the size and hash its section gives.
    for (const char* name : {"version.txt", "manifest.txt"}) {
        const auto timestamp = quill::timestampOf(bytes, name);
        if (!timestamp) continue;
        const auto text = quill::parseMetadata(bytes);
        require(text && text->sections.count("timestamp") && text->sections.count(name));
        require(timestamp->file.size <= quill::kMostWholeNumber);
        require(timestamp->file.sha256 == text->sections.at(name).at("sha256"));
        require(quill::formatUtcTime(timestamp->header.expires) == text->sections.at("timestamp").at("expires"));
    }

    // signing.ini: what it takes holds only values of their form.
    std::string why;
    if (const auto state = quill::parseSigningState(bytes, &why)) {
        checkRead(*state);
        for (const auto& [name, section] : state->sections) {
            if (section.count("serial")) require(quill::wholeNumber(section.at("serial")).has_value());
            if (section.count("expires")) require(quill::parseUtcTime(section.at("expires")).has_value());
        }
    } else {
        require(!why.empty());
    }
    return 0;
}
