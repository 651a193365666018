#include "app/WindowJigStation.h"

#include "app/StationControls.h"
#include "app/TForm1.h"
#include "controls/THexEdit.h"
#include "device/MouseTypes.h"
#include "operations/CancellableHidPlatform.h"
#include "operations/JigResult.h"
#include "records/ProductionRecords.h"
#include "records/SerialNumberHold.h"
#include "records/Sha256.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cctype>
#include <utility>

namespace vrax {

namespace {

struct JobButton {
    const char* name;
    void (TForm1::*handler)(QObject*);
};

JobButton ButtonOf(JigJob job) {
    switch (job) {
    case JigJob::Write:
        return {"btn_Write", &TForm1::btn_WriteClick};
    case JigJob::Verify:
        return {"btn_Verify", &TForm1::btn_VerifyClick};
    case JigJob::FactoryRead:
        return {"btnReadFactory", &TForm1::btnReadFactoryClick};
    }
    return {"btn_Write", &TForm1::btn_WriteClick};
}

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

} // namespace

WindowJigStation::WindowJigStation(TForm1& form, std::atomic<bool>& cancelled)
    : form_(form), cancelled_(cancelled) {
    // The window's DevTimer opens a plugged mouse; a jig's wait only watches for it.
    waitTimer_.setInterval(WaitPollMilliseconds);
    waitTimer_.setSingleShot(true);
    QObject::connect(&waitTimer_, &QTimer::timeout, &form_, [this] { Wait(); });
    form_.SetChunkListener([this](int done, int total) {
        if (running_) {
            progress_.done = done;
            progress_.total = total;
            if (chunkListener_) {
                chunkListener_();
            }
        }
    });
}

bool WindowJigStation::MouseOpen() {
    return form_.GetStation().links.AnyOpen();
}

std::optional<RemoteError> WindowJigStation::StartJob(const JigJobRequest& request) {
    if (running_ || form_.State().OperationsRunning > 0) {
        return RemoteError::Busy;
    }
    if (request.serialNumber && request.job == JigJob::Write &&
        (!form_.WriteProductId() || !FindMouseType(form_.IcType())->jobs.checkedWrite)) {
        return RemoteError::NoFactoryRecord;
    }
    if (request.job != JigJob::FactoryRead && !form_.State().ImageLoaded) {
        return RemoteError::NoImage;
    }
    if (!MouseOpen() && request.waitSeconds == 0) {
        return RemoteError::NoMouse;
    }
    // A button the operator could not click now (auto write, a dialog's loop) is refused alike.
    if (MouseOpen() && !FindControl<QPushButton>(form_, ButtonOf(request.job).name)->isEnabled()) {
        return RemoteError::Busy;
    }
    running_ = true;
    finished_ = false;
    cancelled_ = false;
    progress_ = {};
    results_.clear();
    job_ = request.job;
    waiting_ = true;
    waitCancelled_ = false;
    serialNumber_ = request.serialNumber;
    waitUntil_ = form_.GetClock().Now() + std::chrono::seconds(request.waitSeconds);
    QTimer::singleShot(0, &form_, [this] { Wait(); });
    return std::nullopt;
}

void WindowJigStation::Wait() {
    if (!running_ || finished_) {
        waitTimer_.stop();
        return;
    }
    const bool open = MouseOpen();
    if (!open && !waitCancelled_ && form_.GetClock().Now() < waitUntil_) {
        waitTimer_.start();
        return;
    }
    waitTimer_.stop();
    waiting_ = false;
    if (open && !waitCancelled_) {
        Run(job_);
        return;
    }
    JigChannelResult ended;
    ended.job = job_;
    ended.error = waitCancelled_ ? RemoteError::Cancelled : RemoteError::Timeout;
    ended.reason = waitCancelled_ ? CancellableHidPlatform::CancelledText : "NO MOUSE CAME";
    Finish(ended);
}

void WindowJigStation::Run(JigJob job) {
    const JobButton button = ButtonOf(job);
    std::exception_ptr error;
    QPushButton* const control = FindControl<QPushButton>(form_, button.name);
    if (form_.State().OperationsRunning > 0 || !control->isEnabled()) {
        // A click came first, or auto write took the mouse that came.
        JigChannelResult refused;
        refused.job = job;
        refused.error = RemoteError::Busy;
        refused.reason = "A JOB IS RUNNING";
        Finish(refused);
        return;
    }
    if (serialNumber_) {
        // As the operator typing it in the SN field: the window goes on from it.
        FindControl<THexEdit>(form_, "edt_FactoryNum")->SetValue(*serialNumber_);
    }
    form_.RunGuarded([&] {
        try {
            (form_.*button.handler)(control);
        } catch (...) {
            error = std::current_exception();
            throw;
        }
    });
    Finish(ResultOf(job, error));
}

void WindowJigStation::Finish(JigChannelResult result) {
    results_ = {std::move(result)};
    cancelled_ = false;
    progress_.finished = true;
    finished_ = true;
}

JigChannelResult WindowJigStation::ResultOf(JigJob job, const std::exception_ptr& error) const {
    JigChannelResult result;
    result.job = job;
    const std::optional<JobOutcome>& outcome = form_.Recording().LastOutcome();
    if (outcome) {
        TakeOutcome(result, *outcome);
    }
    if (error) {
        try {
            std::rethrow_exception(error);
        } catch (const UnrecordedMouse& refused) {
            result.error = RemoteError::RecordsUnreachable;
            result.reason = refused.what();
        } catch (const RecordsUnreachable& refused) {
            result.error = RemoteError::RecordsUnreachable;
            result.reason = refused.what();
        } catch (const RecordsError& refused) {
            // Before the mouse the records refuse an image or a serial number; after it, keep it.
            const std::string text = refused.what();
            result.error = outcome ? RemoteError::RecordsUnreachable
                           : text.find("not approved") != std::string::npos
                               ? RemoteError::NotApproved
                               : RemoteError::SerialStamped;
            result.reason = text;
        } catch (const std::exception& other) {
            result.error = RemoteError::Unknown;
            result.reason = other.what();
        }
        return result;
    }
    if (!outcome || !outcome->Passed()) {
        SetFailure(result, outcome ? &*outcome : nullptr, cancelled_);
    } else if (job == JigJob::FactoryRead) {
        // The fields the read showed, as the operator reads them off the window.
        FactoryFields shown;
        shown.date = form_.FactoryDate();
        shown.factoryIndex = form_.FactoryIndex();
        shown.lineIndex = form_.LineIndex();
        shown.stationIndex = form_.StationIndex();
        result.fields = FactoryFieldsOf(shown);
        result.serialNumber = form_.FactoryNumber();
        result.productType = form_.FactoryType();
    }
    return result;
}

JigProgress WindowJigStation::Progress() {
    return progress_;
}

std::vector<JigChannelResult> WindowJigStation::TakeResults() {
    if (!finished_) {
        return {};
    }
    running_ = false;
    finished_ = false;
    progress_ = {};
    return std::exchange(results_, {});
}

void WindowJigStation::Cancel() {
    // Once the job has ended the flag would cut the next one, a click's too.
    if (running_ && !finished_) {
        // While the jig waits for a mouse the platform stays whole: the window is polling it.
        if (waiting_) {
            waitCancelled_ = true;
        } else {
            cancelled_ = true;
        }
    }
}

std::string WindowJigStation::Status(const std::vector<int>&) {
    if (form_.State().OperationsRunning > 0) {
        return "BUSY";
    }
    if (!form_.State().ImageLoaded) {
        return "NO IMAGE";
    }
    return MouseOpen() ? "READY" : "NO MOUSE";
}

JigImage WindowJigStation::Image() {
    const StationState& state = form_.State();
    if (!state.ImageLoaded) {
        return {};
    }
    const QString file = FindControl<QLineEdit>(form_, "edt_BinFile")->text();
    return {QFileInfo(file).fileName().toStdString(),
            Sha256Hex(state.LoadedImage.data(), state.LoadedImage.size())};
}

std::optional<std::pair<RemoteError, std::string>> WindowJigStation::Load(const std::string& name) {
    // As the operator: Load BIN is closed while a mouse is ready or a job runs.
    if (form_.State().OperationsRunning > 0 ||
        !FindControl<QPushButton>(form_, "btn_Load")->isEnabled()) {
        return std::pair(RemoteError::Busy,
                         std::string("LOAD BIN IS CLOSED WHILE A MOUSE IS READY"));
    }
    // The folder of the image loaded last, else the working folder, as the open dialog's.
    const QString loaded = FindControl<QLineEdit>(form_, "edt_BinFile")->text();
    const QDir folder = loaded.isEmpty() ? QDir::current() : QFileInfo(loaded).absoluteDir();
    const QString path = folder.filePath(QString::fromStdString(name));
    if (!QFileInfo(path).isFile()) {
        return std::pair(RemoteError::ImageUnreadable, "NO FILE " + name + " IN THE IMAGE FOLDER");
    }
    form_.RunGuarded([&] { form_.LoadImageFile(QDir::toNativeSeparators(path)); });
    if (!form_.State().ImageLoaded) {
        // A file Windows or Qt could not read was shown in a box; a wrong size under the fields.
        auto* sizeError = FindControl<QLabel>(form_, "lbl_BINICTypeError");
        return std::pair(RemoteError::ImageUnreadable, sizeError->isVisible()
                                                           ? sizeError->text().toStdString()
                                                           : std::string("THE FILE DID NOT LOAD"));
    }
    return std::nullopt;
}

bool WindowJigStation::SelectIcType(const std::string& name) {
    auto* list = FindControl<DropDownComboBox>(form_, "cb_ICType");
    // As the operator: the list is closed while a mouse is open or a job runs.
    if (!list->isEnabled() || form_.State().OperationsRunning > 0) {
        return false;
    }
    for (const MouseType& type : MouseTypes) {
        if (Upper(type.name) == Upper(name)) {
            list->setCurrentIndex(type.icType);
            form_.RunGuarded([&] { form_.cb_ICTypeChange(list); });
            return true;
        }
    }
    return false;
}

std::string WindowJigStation::IcType() {
    return IcTypeName(FindControl<DropDownComboBox>(form_, "cb_ICType")->currentIndex());
}

std::string WindowJigStation::Version() {
    return std::string("VRAX-BIN-WRITER ") + VRAX_VERSION + " PROTOCOL 1";
}

} // namespace vrax
