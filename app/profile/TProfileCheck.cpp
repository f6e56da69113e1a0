// The profile check (see TProfileCheck.h).
#include "app/profile/TProfileCheck.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>

#include "app/profile/TBackupProfile.h"
#include "app/profile/TIniFile.h"

namespace brenwick {

namespace {

constexpr const char* kKnownSections[] = {"Archives", "Options"};
constexpr const char* kOptionKeys[] = {"EraseBefore", "Import",     "CloseDisc", "EjectDisc", "Verify",
                                       "Device",      "DeviceName", "Volume",    "OpenPath"};
constexpr const char* kBooleanKeys[] = {"EraseBefore", "Import", "CloseDisc", "EjectDisc", "Verify"};

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

bool sameName(std::string_view a, std::string_view b) {
    return lowered(a) == lowered(b);
}

// Letters to change, add or remove to turn one name into another, ignoring case.
std::size_t distance(std::string_view a, std::string_view b) {
    const std::string x = lowered(a), y = lowered(b);
    std::vector<std::size_t> row(y.size() + 1);
    for (std::size_t j = 0; j <= y.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= x.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= y.size(); ++j) {
            const std::size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[y.size()];
}

// "; did you mean X?" for the nearest known name within a third of its length, or "".
template <std::size_t N>
std::string nearest(std::string_view word, const char* const (&known)[N], const char* open,
                    const char* close) {
    const char* best = nullptr;
    std::size_t bestDistance = 0;
    for (const char* name : known) {
        const std::size_t d = distance(word, name);
        if (best == nullptr || d < bestDistance) best = name, bestDistance = d;
    }
    if (best == nullptr || bestDistance > std::max<std::size_t>(1, std::string_view(best).size() / 3))
        return "";
    return std::string("; did you mean ") + open + best + close + "?";
}

template <std::size_t N>
bool known(std::string_view word, const char* const (&names)[N]) {
    return std::any_of(std::begin(names), std::end(names), [&](const char* n) { return sameName(word, n); });
}

// A decimal integer as the reader takes it (an optional sign, the range of int).
std::optional<int> integerOf(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

// The index of an entry key "n0", "n1", ... (no leading zeros), or nothing.
std::optional<int> entryIndex(std::string_view key) {
    if (key.size() < 2 || (key[0] != 'n' && key[0] != 'N')) return std::nullopt;
    const std::string_view digits = key.substr(1);
    if (digits.size() > 1 && digits[0] == '0') return std::nullopt;
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return integerOf(digits);
}

class TChecker {
  public:
    std::vector<TProfileProblem> problems;

    void add(std::string text, bool archives = false) { problems.push_back({archives, std::move(text)}); }

    void sections(const std::vector<TIniFile::TSectionKeys>& all) {
        std::set<std::string> seen;
        for (const auto& s : all) {
            if (s.name.empty() && !s.keys.empty()) {
                add("'" + s.keys.front().key + "' stands before the first section and is not read");
                continue;
            }
            if (!known(s.name, kKnownSections)) {
                const std::string hint = nearest(s.name, kKnownSections, "[", "]");
                add("[" + s.name + "] is not a section Brenwick reads" + hint,
                    hint == "; did you mean [Archives]?");
                continue;
            }
            if (!seen.insert(lowered(s.name)).second) {
                add("[" + s.name + "] appears a second time: only the first one is read",
                    sameName(s.name, "Archives"));
                continue;
            }
            repeatedKeys(s);
            if (sameName(s.name, "Options")) options(s);
        }
    }

    void repeatedKeys(const TIniFile::TSectionKeys& s) {
        std::set<std::string> keys;
        for (const auto& kv : s.keys)
            if (!keys.insert(lowered(kv.key)).second)
                add("[" + s.name + "] " + kv.key + " appears twice: only the first value is read",
                    sameName(s.name, "Archives"));
    }

    void options(const TIniFile::TSectionKeys& s) {
        for (const auto& kv : s.keys) {
            if (!known(kv.key, kOptionKeys)) {
                add("[Options] " + kv.key + " is not a key Brenwick reads" +
                    nearest(kv.key, kOptionKeys, "", ""));
            } else if (known(kv.key, kBooleanKeys) && !integerOf(kv.value)) {
                add("[Options] " + kv.key + "=" + kv.value + " is not a number: it reads as " +
                    (sameName(kv.key, "Verify") ? "on (1)" : "off (0)"));
            } else if (sameName(kv.key, "Device") && !integerOf(kv.value)) {
                add("[Options] Device=" + kv.value + " is not a number: it reads as recorder 0");
            }
        }
    }

    // Count against the entry keys, then every entry key's path (also those Count leaves unread, so that
    // mending Count does not uncover more problems).
    void archives(const TIniFile::TSectionKeys& s) {
        std::map<int, std::string> entries;  // index -> key as written
        for (const auto& kv : s.keys) {
            if (sameName(kv.key, "Count")) continue;
            if (const auto index = entryIndex(kv.key))
                entries.try_emplace(*index, kv.key);
            else
                add("[Archives] " + kv.key + " is not read (entries are n0, n1, ... and Count)", true);
        }
        count(s, entries);
        std::set<int> checked;  // the first key of an index is the one read
        for (const auto& kv : s.keys)
            if (const auto index = entryIndex(kv.key); index && checked.insert(*index).second)
                entry(kv.key, kv.value);
    }

    void count(const TIniFile::TSectionKeys& s, const std::map<int, std::string>& entries) {
        const auto countKey = std::find_if(s.keys.begin(), s.keys.end(),
                                           [](const auto& kv) { return sameName(kv.key, "Count"); });
        if (countKey == s.keys.end()) {
            if (!entries.empty())
                add("[Archives] has no Count: none of its " + std::to_string(entries.size()) +
                        " entries is read (Count=" + std::to_string(entries.rbegin()->first + 1) +
                        " would read them)",
                    true);
            else
                add("[Archives] is empty: nothing would be backed up");
            return;
        }
        const std::optional<int> count = integerOf(countKey->value);
        if (!count) {
            add("[Archives] Count=" + countKey->value + " is not a number: no entry is read", true);
            return;
        }
        const int read = std::clamp(*count, 0, kMaxProfileEntries);
        if (*count > kMaxProfileEntries)
            add("[Archives] Count=" + countKey->value + ": only the first " +
                    std::to_string(kMaxProfileEntries) + " entries are read",
                true);
        if (*count <= 0)
            add("[Archives] Count=" + countKey->value + ": no entry is read", entries.size() > 0);
        for (const auto& [index, key] : entries)
            if (index >= read)
                add("[Archives] " + key + " is beyond Count=" + countKey->value + " and is not read", true);
        for (int i = 0; i < read; ++i)
            if (!entries.contains(i))
                add("[Archives] n" + std::to_string(i) + " is missing (Count=" + countKey->value +
                        "): it reads as an empty entry and is skipped",
                    true);
    }

    void entry(const std::string& key, const std::string& value) {
        const std::string where = "[Archives] " + key + "=" + value;
        if (value.empty()) {
            add("[Archives] " + key + " is empty: it is skipped");
        } else if (value.front() != '/') {
            std::string hint;
            const char* home = std::getenv("HOME");
            if (value.starts_with("~/") && home != nullptr && *home == '/')
                hint = "; \"~\" is not expanded in a profile: write " + std::string(home) + value.substr(1);
            else
                hint = "; write the full path, beginning with \"/\"";
            add(where + " is not an absolute path: it is skipped" + hint);
        } else {
            std::error_code ec;
            if (!std::filesystem::exists(value, ec)) add(where + " does not exist: it is skipped");
        }
    }
};

}  // namespace

std::vector<TProfileProblem> CheckProfileFile(const std::string& fileName) {
    const TIniFile ini(fileName);
    TChecker check;
    switch (ini.loadStatus()) {
        case TIniLoadStatus::Loaded:
            break;
        case TIniLoadStatus::Missing:
            check.add("the file does not exist", true);
            return check.problems;
        case TIniLoadStatus::Unreadable:
            check.add("the file cannot be read", true);
            return check.problems;
        case TIniLoadStatus::TooLarge:
            check.add("the file is larger than " + std::to_string(TIniFile::kMaxFileSize >> 20) +
                          " MiB and is not read",
                      true);
            return check.problems;
    }
    const auto all = ini.sectionsInOrder();
    if (all.empty()) {
        check.add("the file is empty (no [Archives], no [Options]): nothing would be backed up");
        return check.problems;
    }
    check.sections(all);
    const auto archives =
        std::find_if(all.begin(), all.end(), [](const auto& s) { return sameName(s.name, "Archives"); });
    if (archives == all.end())
        check.add("there is no [Archives] section: nothing would be backed up");
    else
        check.archives(*archives);
    return check.problems;
}

}  // namespace brenwick
