#include "control/job/OutputCommit.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/LocalizedStrings.h"
#include "platform/PathParts.h"
#include "platform/ReplaceFile.h"

namespace spatialmux {

namespace {

// Removes what killed runs left for the same output: regular files under
// this output's temporary names only (never a link, never a folder). Called
// with the lock held, so no live run owns them.
void RemoveStaleTemporaries(const TemporaryNames& names) {
    DIR* folder = opendir(names.Folder().c_str());
    if (folder == nullptr) return;
    std::vector<std::string> stale;
    while (const dirent* entry = readdir(folder)) {
        if (names.IsTemporary(entry->d_name)) stale.emplace_back(entry->d_name);
    }
    closedir(folder);
    const std::string base = names.Folder() == "/" ? "/" : names.Folder() + "/";
    for (const std::string& name : stale) {
        struct stat facts {};
        const std::string path = base + name;
        if (lstat(path.c_str(), &facts) == 0 && S_ISREG(facts.st_mode)) unlink(path.c_str());
    }
}

}  // namespace

std::string OutputCommit::FinalPathFor(const std::string& outputPath) {
    // Follows a chain of links, also one whose last target does not exist
    // yet (it is then created). A loop leaves the name as it is; creating
    // the temporary file or renaming then reports the problem.
    std::string path = outputPath;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat facts {};
        if (lstat(path.c_str(), &facts) != 0 || !S_ISLNK(facts.st_mode)) return path;
        std::string target(static_cast<std::size_t>(facts.st_size > 0 ? facts.st_size : 256) + 1,
                           '\0');
        const ssize_t length = readlink(path.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return path;
        target.resize(static_cast<std::size_t>(length));
        if (target.front() != '/') {
            const std::string folder = platform::FolderOf(path);
            target = (folder == "/" ? std::string("/") : folder + "/") + target;
        }
        path = target;
    }
    return outputPath;
}

std::unique_ptr<OutputCommit> OutputCommit::Begin(const std::string& outputPath, std::string* why,
                                                  Refusal* refusal) {
    auto refuse = [&](Refusal kind, std::string text) -> std::unique_ptr<OutputCommit> {
        if (why != nullptr) *why = std::move(text);
        if (refusal != nullptr) *refusal = kind;
        return nullptr;
    };
    std::unique_ptr<OutputCommit> commit(new OutputCommit());
    commit->finalPath = FinalPathFor(outputPath);
    commit->names = TemporaryNames::For(commit->finalPath);
    if (!commit->names) {
        return refuse(Refusal::NameTooLong,
                      outputPath + ": the name is too long for the hidden temporary files");
    }

    std::string cause;
    switch (platform::FileLock::TryAcquire(commit->names->Lock(), commit->lock, &cause)) {
        case platform::FileLock::Result::Held:
            break;
        case platform::FileLock::Result::Busy:
            return refuse(Refusal::Busy,
                          outputPath + ": another conversion to this output is running");
        case platform::FileLock::Result::Failed:
            return refuse(Refusal::CannotCreate, commit->names->Lock() + ": " + cause);
    }
    RemoveStaleTemporaries(*commit->names);

    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string tag = TemporaryNames::NewTag();
        const std::string path = commit->names->Output(tag);
        int error = 0;
        auto fd = platform::CreateExclusive(path, &error);
        if (!fd) {
            if (error == EEXIST) continue;  // another name, another try
            return refuse(Refusal::CannotCreate, path + ": " + std::strerror(error));
        }
        const auto identity = platform::IdentityOfFd(fd->Get());
        commit->created.push_back({path, identity.value_or(platform::FileIdentity{})});
        commit->temporaryFd = std::move(*fd);
        commit->temporaryPath = path;
        commit->tag = tag;
        if (refusal != nullptr) *refusal = Refusal::None;
        return commit;
    }
    return refuse(Refusal::CannotCreate, outputPath + ": no free temporary name");
}

void OutputCommit::RemoveLeftovers(const std::string& outputPath) {
    const auto names = TemporaryNames::For(FinalPathFor(outputPath));
    if (!names) return;
    std::optional<platform::FileLock> lock;
    if (platform::FileLock::TryAcquire(names->Lock(), lock) != platform::FileLock::Result::Held) {
        return;
    }
    RemoveStaleTemporaries(*names);
    // The lock file goes with the lock.
}

OutputCommit::~OutputCommit() {
    // Names in these lines are escaped: a line break in one must not start
    // a line of its own (the progress protocol shares standard error).
    for (const std::string& problem : Discard())
        std::fprintf(stderr, "spatialmux: %s\n", platform::ControlsEscaped(problem).c_str());
}

std::optional<std::pair<std::string, platform::UniqueFd>> OutputCommit::CreateCompanion(
    const std::string& extension, std::string* why) {
    const std::string companion = names->Scratch(tag, extension);
    int error = 0;
    auto fd = platform::CreateExclusive(companion, &error);
    if (!fd) {
        if (why != nullptr) *why = companion + ": " + std::strerror(error);
        return std::nullopt;
    }
    created.push_back(
        {companion, platform::IdentityOfFd(fd->Get()).value_or(platform::FileIdentity{})});
    return std::make_pair(companion, std::move(*fd));
}

bool OutputCommit::Remove(const std::string& path, std::string* why) {
    for (auto it = created.begin(); it != created.end(); ++it) {
        if (it->path != path) continue;
        std::string cause;
        if (!platform::RemoveIfSameFile(path, it->identity.device, it->identity.inode, &cause)) {
            if (why != nullptr) *why = "could not remove " + path + ": " + cause;
            return false;
        }
        created.erase(it);
        return true;
    }
    return true;  // not one of ours: never touched
}

bool OutputCommit::Commit(std::string* why) {
    if (committed) return true;
    temporaryFd.Reset();
    std::string cause;
    std::string warning;
    if (!platform::ReplaceFile(temporaryPath, finalPath, &cause, &warning)) {
        if (why != nullptr)
            *why = "could not put the output in place as " + finalPath + ": " + cause;
        return false;
    }
    committed = true;
    if (!warning.empty()) {
        std::fprintf(stderr, "spatialmux: %s\n", platform::ControlsEscaped(warning).c_str());
    }
    // The temporary output now is the output.
    for (auto it = created.begin(); it != created.end(); ++it) {
        if (it->path == temporaryPath) {
            created.erase(it);
            break;
        }
    }
    for (const std::string& problem : Discard()) {
        if (why != nullptr) *why = problem;
        std::fprintf(stderr, "spatialmux: %s\n", platform::ControlsEscaped(problem).c_str());
    }
    return true;
}

std::vector<std::string> OutputCommit::Discard() {
    temporaryFd.Reset();
    std::vector<std::string> problems;
    std::vector<Created> left;
    for (const Created& file : created) {
        std::string cause;
        if (!platform::RemoveIfSameFile(file.path, file.identity.device, file.identity.inode,
                                        &cause)) {
            problems.push_back("could not remove the temporary file " + file.path + ": " + cause);
            left.push_back(file);
        }
    }
    created = std::move(left);
    return problems;
}

}  // namespace spatialmux
