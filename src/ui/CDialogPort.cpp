#include "CDialogPort.h"

#include <QMetaObject>
#include <QThread>

#include <type_traits>

#include "CTesseraDlg.h"

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

std::string CDialogPort::FieldText(int edit)
{
    return OnDialogThread([this, edit] { return dialog_.FieldText(edit); });
}

int CDialogPort::ListCount(int list)
{
    return OnDialogThread([this, list] { return dialog_.ListCount(list); });
}

std::string CDialogPort::ListLine(int list, int index)
{
    return OnDialogThread([this, list, index] { return dialog_.ListLine(list, index); });
}

void CDialogPort::SetStatus(const std::string& text)
{
    OnDialogThread([this, &text] { dialog_.SetStatus(text); });
}

void CDialogPort::SetProgress(int position)
{
    OnDialogThread([this, position] { dialog_.SetProgress(position); });
}

void CDialogPort::ApplyControlStates(const ControlStates& states)
{
    touchedControls_ = true;
    OnDialogThread([this, &states] { dialog_.ApplyControlStates(states); });
}
