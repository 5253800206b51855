// The settings of the preferences window as readable keys of a preference
// export, so that a station without a display can be changed by editing the
// exported file. Every value the window offers stands beside its record's
// blob under a name of its own: the record's prefix and what the window
// calls the value, with a plain value (a boolean for a checkbox, an integer
// for a number, a text for a text field and for the item chosen in a popup):
//
//   "General Settings Delete Job Files After Printing"        <true/>
//   "PrintToFileSet 3 Write A Web Copy"                       <true/>
//   "PrintToFileSet 3 Also Copy To Sets"                      <string>5, 7</string>
//   "Output Files JPEG Quality Of Web Copies"                 <integer>50</integer>
//   "Kivo-Print Center Hand Off A JPEG And A Property List"   <true/>
//
// The prefixes are "General Settings", "Print To File", "Kivo-Print
// Center", "PrintToFileSet 1" to "PrintToFileSet 8", "Output Files" and
// "Web Upload". On import a readable key wins over the same value in its
// record's blob; the blob still carries what the window does not show.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/sys/PlistValue.h"

// The readable keys and values of the record stored under `recordKey` (a
// user-defaults key of prefs/PrefStore.h) as `blob`; empty when the blob does
// not read or the record has none. A value the import would refuse (a
// damaged switch, a format no popup offers) is left out: the blob carries it.
host::PlistDict ReadableSettingsOf(const std::string& recordKey, const host::PlistData& blob);

// The record key a readable key belongs to ("PrintToFileSet 3" for
// "PrintToFileSet 3 Client List"); empty when `key` is none.
std::string RecordOfReadableKey(const std::string& key);
// Whether `key` begins with the prefix of a record that has readable keys
// (so that a misspelt setting can be told apart from a foreign key).
bool HasReadablePrefix(const std::string& key);

// Why `value` cannot be the readable setting `key` (of the wrong type, out of
// its range, a text the popup does not offer or too long for its field);
// nothing when it can.
std::optional<std::string> CheckReadableSetting(const std::string& key, const host::PlistValue& value);

// `blob` of the record stored under `recordKey` with every setting of
// `settings` (readable keys of that record, each passing
// CheckReadableSetting) put in; a setting equal to what the blob holds
// leaves its field as it is. Nothing when the blob does not read.
std::optional<host::PlistData> WithReadableSettings(const std::string& recordKey, const host::PlistData& blob,
                                                    const host::PlistDict& settings);

// The blob of the record's factory values (empty for a key of no record
// with readable keys).
host::PlistData FactoryRecordBlob(const std::string& recordKey);

// Every readable key, record by record.
std::vector<std::string> AllReadableKeys();
