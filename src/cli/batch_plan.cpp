// The plan of a batch: listing, shards, output names, and the report's lines.
#include "cli/batch_plan.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <utility>

#include "cli/json_text.h"
#include "core/file_access.h"

namespace cli {
namespace {

using FileId = std::pair<dev_t, ino_t>;

// A path and a name under it, with exactly one slash between them.
std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string LastName(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const size_t slash = trimmed.find_last_of('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

struct Lister {
    std::span<const char* const> extensions;
    std::optional<FileId> skip;
    std::set<FileId> folders;  // every folder walked, so that a link back up ends the walk
    std::set<FileId> files;    // every file listed, so that none is worked on twice
    std::vector<BatchInput> out;

    void AddFile(const std::string& path, const std::string& relative, const struct stat& st) {
        if (files.insert({st.st_dev, st.st_ino}).second) out.push_back({path, relative, {}});
    }

    void Walk(const std::string& folder, const std::string& relative) {
        DIR* dir = ::opendir(folder.c_str());
        if (dir == nullptr) {
            out.push_back({folder, relative, std::strerror(errno)});
            return;
        }
        std::vector<std::string> names;
        errno = 0;
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
        }
        const int readError = errno;
        ::closedir(dir);
        if (readError != 0) {
            out.push_back({folder, relative, std::strerror(readError)});
            return;
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const std::string path = Join(folder, name);
            const std::string under = relative.empty() ? name : relative + "/" + name;
            struct stat st {};
            if (::stat(path.c_str(), &st) != 0) {
                // A link to nothing, or a file gone since the folder was read: worth a line in the
                // report only when it would have been one of the batch's files.
                if (HasOneOfExtensions(name, extensions)) out.push_back({path, under, std::strerror(errno)});
                continue;
            }
            if (S_ISDIR(st.st_mode)) {
                const FileId id{st.st_dev, st.st_ino};
                if (skip && *skip == id) continue;
                if (folders.insert(id).second) Walk(path, under);
            } else if (IsRegularFile(st) && HasOneOfExtensions(name, extensions)) {
                AddFile(path, under, st);
            }
        }
    }
};

constexpr uint64_t kFnvOffset = 14695981039346656037ull;
constexpr uint64_t kFnvPrime = 1099511628211ull;

const char* StatusName(JobStatus status) {
    switch (status) {
        case JobStatus::Done:
            return "done";
        case JobStatus::Skipped:
            return "skipped";
        case JobStatus::Failed:
            return "failed";
        case JobStatus::Interrupted:
            return "interrupted";
    }
    return "failed";
}

}  // namespace

bool HasOneOfExtensions(std::string_view name, std::span<const char* const> extensions) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    const std::string_view ext = name.substr(dot + 1);
    for (const char* wanted : extensions) {
        if (std::strlen(wanted) == ext.size() && ::strncasecmp(wanted, ext.data(), ext.size()) == 0)
            return true;
    }
    return false;
}

std::vector<BatchInput> ListBatchInputs(std::span<const std::string> arguments,
                                        std::span<const char* const> extensions,
                                        const std::string& skipFolder) {
    Lister lister;
    lister.extensions = extensions;
    struct stat skip {};
    if (!skipFolder.empty() && ::stat(skipFolder.c_str(), &skip) == 0)
        lister.skip = FileId{skip.st_dev, skip.st_ino};
    for (const std::string& argument : arguments) {
        struct stat st {};
        if (::stat(argument.c_str(), &st) != 0) {
            lister.out.push_back({argument, LastName(argument), std::strerror(errno)});
        } else if (S_ISDIR(st.st_mode)) {
            // The folder's files are named from it: their paths under it are what machines that
            // mount it elsewhere share.
            if (lister.folders.insert({st.st_dev, st.st_ino}).second) lister.Walk(argument, "");
        } else if (IsRegularFile(st)) {
            lister.AddFile(argument, LastName(argument), st);
        } else {
            lister.out.push_back({argument, LastName(argument), "not a regular file or a folder"});
        }
    }
    // A folder that could not be read at its top has no path under itself; it is named by its own.
    for (BatchInput& input : lister.out) {
        if (input.relative.empty()) input.relative = LastName(input.path);
    }
    return std::move(lister.out);
}

std::optional<Shard> ParseShard(std::string_view text) {
    const size_t slash = text.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    constexpr uint32_t kMostShards = 100000;
    const auto number = [&](std::string_view digits) -> uint32_t {
        if (digits.empty() || digits.size() > 6) return 0;
        uint32_t value = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9') return 0;
            value = value * 10 + static_cast<uint32_t>(c - '0');
        }
        return value;
    };
    const uint32_t index = number(text.substr(0, slash));
    const uint32_t count = number(text.substr(slash + 1));
    if (index == 0 || count == 0 || index > count || count > kMostShards) return std::nullopt;
    return Shard{index, count};
}

uint32_t ShardOfPath(std::string_view relative, uint32_t count) {
    uint64_t hash = kFnvOffset;
    for (const char c : relative) {
        hash ^= static_cast<unsigned char>(c);
        hash *= kFnvPrime;
    }
    return static_cast<uint32_t>(hash % (count == 0 ? 1 : count)) + 1;
}

std::vector<std::string> OutputNames(std::span<const BatchInput> inputs, std::string_view extension) {
    const std::string ext = "." + std::string(extension);
    // The plain name: the relative path with the file name's own extension (a dot that does not
    // start the name) replaced.
    std::vector<std::string> plain;
    for (const BatchInput& input : inputs) {
        const std::string& rel = input.relative;
        const size_t nameStart = rel.find_last_of('/') == std::string::npos ? 0 : rel.find_last_of('/') + 1;
        const size_t dot = rel.rfind('.');
        const bool hasExtension = dot != std::string::npos && dot > nameStart;
        plain.push_back((hasExtension ? rel.substr(0, dot) : rel) + ext);
    }
    std::vector<std::string> names;
    std::set<std::string> taken;
    for (size_t i = 0; i < inputs.size(); ++i) {
        const bool shared = std::count(plain.begin(), plain.end(), plain[i]) > 1;
        std::string name = shared ? inputs[i].relative + ext : plain[i];
        const std::string stem = name.substr(0, name.size() - ext.size());
        for (int n = 2; taken.count(name) != 0; ++n) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, " (%d)", n);
            name = stem + suffix + ext;
        }
        taken.insert(name);
        names.push_back(std::move(name));
    }
    return names;
}

bool OutputIsCurrent(const std::string& output, std::span<const std::string> sources) {
    struct stat out {};
    if (::stat(output.c_str(), &out) != 0 || !IsRegularFile(out)) return false;
    for (const std::string& source : sources) {
        struct stat in {};
        if (::stat(source.c_str(), &in) != 0) return false;
        const auto newer = [](const timespec& a, const timespec& b) {
            return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
        };
        if (newer(in.st_mtim, out.st_mtim)) return false;
    }
    return true;
}

std::string ReportLine(const JobRecord& record) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", record.seconds);
    return "{\"input\": " + JsonString(record.input) +
           ", \"output\": " + (record.output.empty() ? std::string("null") : JsonString(record.output)) +
           ", \"status\": \"" + StatusName(record.status) +
           "\", \"reason\": " + (record.reason.empty() ? std::string("null") : JsonString(record.reason)) +
           ", \"seconds\": " + seconds + "}";
}

std::string FailureReason(std::string_view messages, const std::string& fallback) {
    constexpr std::string_view kPrefix = "dorvik-midi: ";
    std::string_view named, last;
    while (!messages.empty()) {
        const size_t end = messages.find('\n');
        std::string_view line = messages.substr(0, end);
        messages = end == std::string_view::npos ? std::string_view() : messages.substr(end + 1);
        // A progress bar redraws with carriage returns; what follows the last one is what shows.
        if (const size_t cr = line.find_last_of('\r'); cr != std::string_view::npos)
            line = line.substr(cr + 1);
        if (line.empty()) continue;
        last = line;
        if (line.substr(0, kPrefix.size()) == kPrefix) named = line.substr(kPrefix.size());
    }
    if (!named.empty()) return std::string(named);
    return last.empty() ? fallback : std::string(last);
}

namespace {
constexpr const char* kRecipeAttribute = "user.dorvik-midi.made";
}  // namespace

std::string OutputRecipe(std::string_view command, std::span<const std::string> options) {
    // Options are joined by NUL, which no argument can hold, so two lists never read alike.
    std::string recipe(command);
    for (const std::string& option : options) {
        recipe += '\0';
        recipe += option;
    }
    return recipe;
}

void KeepOutputRecipe(const std::string& output, const std::string& recipe) {
    (void)::setxattr(output.c_str(), kRecipeAttribute, recipe.data(), recipe.size(), 0);
}

bool OutputMadeWith(const std::string& output, const std::string& recipe) {
    std::string kept(recipe.size() + 1, '\0');
    const ssize_t size = ::getxattr(output.c_str(), kRecipeAttribute, kept.data(), kept.size());
    return size >= 0 && static_cast<size_t>(size) == recipe.size() &&
           kept.compare(0, recipe.size(), recipe) == 0;
}

}  // namespace cli
