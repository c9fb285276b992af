#pragma once
// The output of one conversion, written where no one else looks and put in
// place only when it is complete: "a conversion either completes, verified,
// or changes nothing". Any conversion engine uses it the same way:
//
//   std::string why;
//   auto commit = OutputCommit::Begin(outputPath, &why);  // lock + hidden file
//   if (!commit) { report why; stop }
//   ... write through commit->Fd() (the empty file TemporaryPath(), ours
//   ... alone; an engine that must reopen it by name may); further
//   ... scratch files through CreateCompanion(".wav") ...
//   ... verify the temporary file ...
//   if (!commit->Commit(&why)) { report why; stop }       // rename into place
//
// Until Commit, a file that has the output's name is never opened,
// truncated or removed. Ending the OutputCommit without a Commit (a
// failure, a cancel, a stop signal) removes every file it created and
// nothing else. When the output's name is a symbolic link, the file it
// points to is replaced and the link stays.
//
// While it lives, it holds a lock beside the output (.NAME.spatialmux-lock):
// a second conversion to the same output is refused rather than mixed in.
// Temporaries that a killed run left for the same output are removed once
// the lock is held.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/job/TemporaryNames.h"
#include "platform/ChildProcess.h"
#include "platform/ExclusiveFile.h"
#include "platform/FileLock.h"

namespace spatialmux {

class OutputCommit {
public:
    enum class Refusal {
        None,
        Busy,          // another conversion to the same output is running
        NameTooLong,   // no temporary name fits beside the output
        CannotCreate,  // the folder refused the lock or the temporary file
    };

    // Resolves a link at `outputPath`, takes the lock and creates the hidden
    // temporary output. Nothing, with the refusal and a message naming the
    // file and the cause, when any of that fails (nothing is then left).
    static std::unique_ptr<OutputCommit> Begin(const std::string& outputPath, std::string* why,
                                               Refusal* refusal = nullptr);

    // The file (OUTPUT, or the file OUTPUT links to) that Commit replaces.
    static std::string FinalPathFor(const std::string& outputPath);

    // Removes what runs killed before their clean-up (SIGKILL) left for
    // `outputPath`: their hidden temporaries and lock file. Does nothing
    // while a run for that output is alive (it holds the lock).
    static void RemoveLeftovers(const std::string& outputPath);

    ~OutputCommit();
    OutputCommit(const OutputCommit&) = delete;
    OutputCommit& operator=(const OutputCommit&) = delete;

    // The hidden file the engine writes the output into (exists, empty).
    const std::string& TemporaryPath() const { return temporaryPath; }
    // Its descriptor, open for reading and writing; -1 after CloseFd.
    int Fd() const { return temporaryFd.Get(); }
    // Closes the descriptor (an engine that reopens the file by its path).
    void CloseFd() { temporaryFd.Reset(); }
    const std::string& FinalPath() const { return finalPath; }

    // Creates a further hidden file of this run beside the output, ending in
    // `extension` (".wav"), exclusively; removed with the rest. Its path
    // and descriptor, or nothing (message in `why`).
    std::optional<std::pair<std::string, platform::UniqueFd>> CreateCompanion(
        const std::string& extension, std::string* why);
    // Removes one file this run created, now. False (message in `why`) when
    // the removal failed.
    bool Remove(const std::string& path, std::string* why);

    // Renames the temporary output onto the final path and removes the
    // companions. Durable: the output's data is synced to the disk before
    // the rename and its folder after it, so that a conversion that says it
    // is done survives a power cut. False, with the message, when the sync
    // or the rename failed (nothing is then in place); the temporaries are
    // then removed at the end as after any failure.
    bool Commit(std::string* why);
    bool Committed() const { return committed; }

    // Removes every file of this run that is still there. Each removal
    // that failed is one line of the result, naming the file and cause. The
    // destructor does the same and prints those lines on standard error.
    std::vector<std::string> Discard();

private:
    OutputCommit() = default;

    struct Created {
        std::string path;
        platform::FileIdentity identity;
    };

    std::optional<platform::FileLock> lock;  // released last
    std::string finalPath;
    std::string temporaryPath;
    std::string tag;
    std::optional<TemporaryNames> names;
    platform::UniqueFd temporaryFd;
    std::vector<Created> created;
    bool committed = false;
};

}  // namespace spatialmux
