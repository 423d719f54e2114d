#include "CDialogPort.h"

#include <QMetaObject>
#include <QThread>

#include <type_traits>

#include "CTesseraDlg.h"
#include "StatusTexts.h"

template <typename Function>
auto CDialogPort::OnDialogThread(Function function)
{
    using Result = std::invoke_result_t<Function>;
    // A blocking call from the dialog's own thread would wait for itself.
    if (QThread::currentThread() == dialog_.thread())
        return function();
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(&dialog_, std::move(function), Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(&dialog_, std::move(function), Qt::BlockingQueuedConnection, &result);
        return result;
    }
}

std::string CDialogPort::SourcePath()
{
    return OnDialogThread([this] { return dialog_.FieldText(kEditSource); });
}

std::size_t CDialogPort::PlanLineCount()
{
    return OnDialogThread([this] { return static_cast<std::size_t>(dialog_.ListCount(kListSplit)); });
}

std::vector<std::string> CDialogPort::PlanLines(std::size_t first, std::size_t count)
{
    return OnDialogThread([this, first, count] { return dialog_.ListLines(kListSplit, first, count); });
}

std::string CDialogPort::DestinationPath()
{
    return OnDialogThread([this] { return dialog_.FieldText(kEditJoinDestination); });
}

std::size_t CDialogPort::InputCount()
{
    return OnDialogThread([this] { return static_cast<std::size_t>(dialog_.ListCount(kListJoin)); });
}

std::vector<std::string> CDialogPort::Inputs(std::size_t first, std::size_t count)
{
    return OnDialogThread([this, first, count] { return dialog_.ListLines(kListJoin, first, count); });
}

bool CDialogPort::Report(const tessera::JobEvent& event)
{
    using Kind = tessera::JobEvent::Kind;
    switch (event.kind) {
    case Kind::Reading:
    case Kind::Writing: SetStatus(tessera::BlockStatusText(event.kind, event.path)); break;
    case Kind::Progress: SetProgress(event.position); break;
    case Kind::Ended:
        SetStatus(tessera::EndStatusText(*event.result));
        // A failure leaves the bar where it stood.
        if (event.result->end != tessera::JobEnd::Failed)
            SetProgress(event.position);
        break;
    case Kind::PieceBegun:
    case Kind::Bytes:
    case Kind::PieceEnded: break;
    }
    return true;
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
