// Upload metadata of saved images: a small property list that tells the
// upload side where a picture came from and, for some sites and customers,
// who ordered it. JPEGs carry it as their EXIF user comment; PNGs get it
// appended as a 2,048-byte block.
//
// Character set: the property list is XML in UTF-8. Source paths arrive in
// the job's Mac Roman and are converted to UTF-8 before they are stored; the
// EXIF user comment is written as Unicode (UTF-8 text), so a receiver reads
// the same characters the station wrote.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/sys/PlistValue.h"

namespace output {

inline constexpr size_t kEmailEntryBufferSize = 4096;
inline constexpr size_t kPngMetadataBlockSize = 2048;

// The process-wide upload values; the job reader and the routes set them
// before use, on the job thread.
void setEmailEntryBuffer(std::span<const uint8_t> block);  // 4,096 bytes (shorter: zero-filled)
void setftpSite(int16_t code);
void setCustomerEmail(const std::string& utf8);
void setGroupCode(const std::string& utf8);
void setTicketNumber(const std::string& utf8);
int16_t getftpSite();
const std::string& getTicketNumber();

// The dictionary archived in a block whose last four bytes hold its length
// (little-endian, as the stations write it); nothing for a length of 0, one
// that does not fit the block, or bytes that are not an archived dictionary.
std::optional<host::PlistDict> ArchivedDictionaryInBlock(std::span<const uint8_t> block);

// The site code stored under "f" for sites 2 to 5; empty for others.
std::string SiteShortCode(int16_t site);

// The dictionaries of the three forms.
host::PlistDict PlainMetadata(const std::string& sourcePath);
host::PlistDict SiteMetadata(const std::string& sourcePath);  // uses the upload values
host::PlistDict DornsMetadata(const std::string& sourcePath, std::span<const uint8_t> block);
// The XML text of a dictionary (UTF-8).
std::string MetadataXml(const host::PlistDict& dict);

// Rewrite the file's EXIF user comment with the dictionary; true when the
// file was rewritten. Failures are logged and leave the file as it was.
bool saveSourceWithMetadata(const std::filesystem::path& file, const std::string& sourcePath);
// The form by upload site: plain below 2, else the site form.
void saveSourceWithMetadataBySite(const std::filesystem::path& file, const std::string& sourcePath);
bool saveSourceWithMetadataSTB(const std::filesystem::path& file, const std::string& sourcePath);
bool saveSourceWithMetadataDORNS(const std::filesystem::path& file, const std::string& sourcePath,
                                 std::span<const uint8_t> block);
// Appends the plain dictionary as a 2,048-byte block; a file that cannot be
// opened is left alone, and a dictionary whose text is longer than the block
// is not stored (logged) rather than cut into unreadable text. Always true.
bool saveDataInPNGFile(const std::filesystem::path& file, const std::string& sourcePath);
// The block of the plain dictionary; empty when its text does not fit.
std::vector<uint8_t> PngMetadataBlock(const std::string& sourcePath);

}  // namespace output
