#include "CDialogPort.h"

#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <type_traits>

#include "ControlIndex.h"
#include "StatusTexts.h"
#include "engine/SetBeside.h"

template <typename Function>
auto CDialogPort::OnDialogThread(Function function)
{
    using Result = std::invoke_result_t<Function>;
    // A blocking call from the dialog's own thread would wait for itself.
    if (QThread::currentThread() == dialog_.Object().thread())
        return function();
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(&dialog_.Object(), std::move(function), Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(&dialog_.Object(), std::move(function), Qt::BlockingQueuedConnection, &result);
        return result;
    }
}

namespace {

std::vector<std::string> Slice(const std::vector<std::string>& lines, std::size_t first, std::size_t count)
{
    if (first >= lines.size())
        return {};
    const auto begin = lines.begin() + static_cast<std::ptrdiff_t>(first);
    return {begin, begin + static_cast<std::ptrdiff_t>(std::min(count, lines.size() - first))};
}

}  // namespace

void CDialogPort::Freeze()
{
    frozen_ = OnDialogThread([this] {
        return Fields{dialog_.FieldText(kEditSource),
                      dialog_.ListLines(kListSplit, 0, static_cast<std::size_t>(dialog_.ListCount(kListSplit))),
                      dialog_.FieldText(kEditJoinDestination),
                      dialog_.ListLines(kListJoin, 0, static_cast<std::size_t>(dialog_.ListCount(kListJoin)))};
    });
}

std::string CDialogPort::SourcePath()
{
    if (frozen_)
        return frozen_->source;
    return OnDialogThread([this] { return dialog_.FieldText(kEditSource); });
}

std::size_t CDialogPort::PlanEntryCount()
{
    if (frozen_)
        return frozen_->plan.size();
    return OnDialogThread([this] { return static_cast<std::size_t>(dialog_.ListCount(kListSplit)); });
}

std::vector<tessera::SplitEntry> CDialogPort::PlanEntries(std::size_t first, std::size_t count)
{
    const std::vector<std::string> lines =
        frozen_ ? Slice(frozen_->plan, first, count)
                : OnDialogThread([this, first, count] { return dialog_.ListLines(kListSplit, first, count); });
    std::vector<tessera::SplitEntry> entries;
    entries.reserve(lines.size());
    for (const std::string& line : lines) {
        tessera::SplitEntry entry;
        entries.push_back(tessera::ReadEntry(line, entry) ? entry : tessera::kUnreadableEntry);
    }
    return entries;
}

std::string CDialogPort::DestinationPath()
{
    if (frozen_)
        return frozen_->destination;
    return OnDialogThread([this] { return dialog_.FieldText(kEditJoinDestination); });
}

std::size_t CDialogPort::InputCount()
{
    if (frozen_)
        return frozen_->inputs.size();
    return OnDialogThread([this] { return static_cast<std::size_t>(dialog_.ListCount(kListJoin)); });
}

std::vector<std::string> CDialogPort::Inputs(std::size_t first, std::size_t count)
{
    if (frozen_)
        return Slice(frozen_->inputs, first, count);
    return OnDialogThread([this, first, count] { return dialog_.ListLines(kListJoin, first, count); });
}

bool CDialogPort::Report(const tessera::JobEvent& event)
{
    using Kind = tessera::JobEvent::Kind;
    switch (event.kind) {
    case Kind::Reading:
    case Kind::Writing: SetStatus(tessera::BlockStatusText(event.kind, event.path)); break;
    case Kind::Progress: SetProgress(event.position); break;
    case Kind::Verdict:
        found_.push_back({event.verdict, std::string(event.path), std::string(event.other), event.error});
        break;
    case Kind::Ended:
        // A check or repair of the join list's inputs says what it found and
        // did; a join checked against a checksum file, how the check went
        // (and, when it failed, whether a set beside the inputs can mend
        // them); a split that wrote a recovery set, what the set rebuilds.
        if (task_ == Task::Verify) {
            SetStatus(tessera::VerifyEndStatusText(*event.result, found_, listedIn_));
        } else if (task_ == Task::Repair) {
            SetStatus(tessera::RepairEndStatusText(*event.result, found_));
        } else if (event.result->checksumFile.state == tessera::SideState::Checked) {
            std::string set;
            if (event.result->end == tessera::JobEnd::Failed && event.result->fault == tessera::JobFault::Check)
                set = tessera::RecoverySetBesideInputs(Inputs(0, 1));
            SetStatus(tessera::CheckedEndStatusText(*event.result, DestinationPath(), set));
        } else {
            SetStatus(tessera::SplitEndStatusText(*event.result));
        }
        // A failure leaves the bar where it stood.
        if (event.result->end != tessera::JobEnd::Failed)
            SetProgress(event.position);
        break;
    case Kind::PieceEnded:
    case Kind::Note:
    case Kind::PieceBegun:
    case Kind::Bytes: break;
    }
    return true;
}

void CDialogPort::Show(Task task, std::string listedIn)
{
    task_ = task;
    listedIn_ = std::move(listedIn);
}

void CDialogPort::SetStatus(const std::string& text)
{
    OnDialogThread([this, &text] { dialog_.SetStatus(text); });
}

void CDialogPort::SetProgress(int position)
{
    OnDialogThread([this, position] { dialog_.SetProgress(position); });
}

void CDialogPort::SetRunning(bool running)
{
    touchedControls_ = true;
    OnDialogThread([this, running] { dialog_.ApplyControlStates(ControlStatesFor(!running)); });
}
