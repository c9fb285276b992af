#pragma once
// The questions the queue window asks: which movies or folder to add,
// which folder the outputs go to, whether to stop running conversions, and
// how far to turn a movie's sound. The window uses DesktopQueueDialogs;
// tests put in their own.

#include <optional>
#include <string>
#include <vector>

#include "control/batch/ChildConversion.h"

class QWidget;

namespace spatialmux {

class QueueDialogs {
public:
    virtual ~QueueDialogs() = default;
    // The movies chosen (none after Cancel), starting in `folder`.
    virtual std::vector<std::string> ChooseMovies(QWidget* parent, const std::string& folder) = 0;
    // A folder chosen, or nothing after Cancel.
    virtual std::optional<std::string> ChooseFolder(QWidget* parent, const std::string& title,
                                                    const std::string& folder) = 0;
    // `question` with a button `yes` that does it (true) and `no` (false,
    // also Escape).
    virtual bool Confirm(QWidget* parent, const std::string& question, const std::string& yes,
                         const std::string& no) = 0;
    // The turn of the sound of the movie `file` (its name), starting from
    // `current`; nothing after Cancel.
    virtual std::optional<AmbisonicRotation> ChooseRotation(QWidget* parent,
                                                            const std::string& file,
                                                            const AmbisonicRotation& current) = 0;
};

class DesktopQueueDialogs : public QueueDialogs {
public:
    std::vector<std::string> ChooseMovies(QWidget* parent, const std::string& folder) override;
    std::optional<std::string> ChooseFolder(QWidget* parent, const std::string& title,
                                            const std::string& folder) override;
    bool Confirm(QWidget* parent, const std::string& question, const std::string& yes,
                 const std::string& no) override;
    std::optional<AmbisonicRotation> ChooseRotation(QWidget* parent, const std::string& file,
                                                    const AmbisonicRotation& current) override;
};

}  // namespace spatialmux
