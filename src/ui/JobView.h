#pragma once

#include <cstddef>
#include <string>
#include <vector>

class QObject;
struct ControlStates;

// What a job's port reaches of the window: its fields and lists to read, its
// status line, progress bar and control states to set. Every call is made
// on the thread of Object(). The dialog implements it; the port knows no
// more of the dialog than this.
class JobView {
public:
    // The whole text of edit `edit` as path bytes.
    [[nodiscard]] virtual std::string FieldText(int edit) const = 0;
    [[nodiscard]] virtual int ListCount(int list) const = 0;
    // Lines [first, first + count) of a list, fewer at its end.
    [[nodiscard]] virtual std::vector<std::string> ListLines(int list, std::size_t first,
                                                             std::size_t count) const = 0;
    virtual void SetStatus(const std::string& text) = 0;
    virtual void SetProgress(int position) = 0;
    virtual void ApplyControlStates(const ControlStates& states) = 0;
    // The object whose thread the calls are queued onto.
    [[nodiscard]] virtual QObject& Object() = 0;

protected:
    ~JobView() = default;
};
