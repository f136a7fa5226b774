// What kvboot reads from its command line and how results become exit statuses.
#include <gtest/gtest.h>

#include "cli/Commands.h"
#include "cli/ConsoleUi.h"

namespace kv::cli {
namespace {

TEST(FileChoice, SplitsAtTheFirstEqualsSignAndRefusesEmptySides) {
    struct Case {
        const char* text;
        bool valid;
        const char* row;
        const char* path;
    } cases[] = {
        {"RV-PNL16=/tmp/fw/RV-PNL16.hex", true, "RV-PNL16", "/tmp/fw/RV-PNL16.hex"},
        {"0=a.hex", true, "0", "a.hex"},
        {"Web Server=panel.rom", true, "Web Server", "panel.rom"},
        {" Web Server =panel.rom", true, "Web Server", "panel.rom"},
        {"RV-PNL16=dir/a=b.hex", true, "RV-PNL16", "dir/a=b.hex"},  // '=' in the path
        {"RV-PNL16", false, "", ""},
        {"=a.hex", false, "", ""},
        {"  =a.hex", false, "", ""},
        {"RV-PNL16=", false, "", ""},
        {"", false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<FileChoice> choice = ParseFileChoice(c.text);
        ASSERT_EQ(choice.has_value(), c.valid);
        if (!choice) continue;
        EXPECT_EQ(choice->row, c.row);
        EXPECT_EQ(choice->path, c.path);
    }
}

TEST(Targets, TellAddressesPortsAndUsbDevicesApart) {
    struct Case {
        const char* text;
        bool valid;
        TargetKind kind;
        const char* address;
        int port;
        const char* product;
    } cases[] = {
        {"192.168.1.20", true, TargetKind::Network, "192.168.1.20", 0, ""},
        {"127.0.0.2:10001", true, TargetKind::Network, "127.0.0.2", 10001, ""},
        {"/dev/ttyUSB0", true, TargetKind::Serial, "/dev/ttyUSB0", 0, ""},
        {"COM3", true, TargetKind::Serial, "COM3", 0, ""},
        {"serial:/tmp/kv-pty", true, TargetKind::Serial, "/tmp/kv-pty", 0, ""},
        {"usb:KV123", true, TargetKind::Usb, "KV123", 0, ""},
        {"USB:NRV-USB:KV123", true, TargetKind::Usb, "KV123", 0, "NRV-USB"},
        {"127.0.0.2:0", false, TargetKind::Network, "", 0, ""},
        {"127.0.0.2:65536", false, TargetKind::Network, "", 0, ""},
        {"127.0.0.2:port", false, TargetKind::Network, "", 0, ""},
        {"127.0.0.256", false, TargetKind::Network, "", 0, ""},  // a mistyped address
        {"10.1.2", false, TargetKind::Network, "", 0, ""},
        {"usb:", false, TargetKind::Usb, "", 0, ""},
        {"serial:", false, TargetKind::Serial, "", 0, ""},
        {"", false, TargetKind::Network, "", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        const std::optional<Target> target = ParseTarget(c.text, error);
        ASSERT_EQ(target.has_value(), c.valid) << error;
        if (!target) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(target->kind, c.kind);
        EXPECT_EQ(target->address, c.address);
        EXPECT_EQ(target->tunnelPort, c.port);
        EXPECT_EQ(target->product, c.product);
    }
}

TEST(Targets, HandleAsNamesAreTheMenuEntriesInEitherCase) {
    EXPECT_EQ(HandleAsChoices().size(), 7u);
    for (const HandleAsChoice& choice : HandleAsChoices()) {
        const auto type = ParseHandleAs(std::string(choice.name));
        ASSERT_TRUE(type) << choice.name;
        EXPECT_EQ(*type, choice.id);
    }
    EXPECT_EQ(ParseHandleAs("rv6x6-2wqri-max"), HandleAs::Rv6x6Max);
    EXPECT_TRUE(Describe(HandleAs::Nrv5x5).network);
    EXPECT_FALSE(Describe(HandleAs::HqlxFbr).network);
    EXPECT_FALSE(ParseHandleAs("RV-CTL"));
}

TEST(ExitStatuses, ResultsMapToTheDocumentedStatuses) {
    struct Case {
        SessionError error;
        ExitStatus status;
    } cases[] = {
        {SessionError::None, ExitStatus::Ok},
        {SessionError::NotFound, ExitStatus::Unreachable},
        {SessionError::Unreachable, ExitStatus::Unreachable},
        {SessionError::BadInput, ExitStatus::Usage},
        {SessionError::Question, ExitStatus::Usage},
        {SessionError::Interrupted, ExitStatus::Interrupted},
        {SessionError::Failed, ExitStatus::RowFailed},
    };
    for (const Case& c : cases) EXPECT_EQ(StatusOf(c.error), c.status);

    UpgradeOutcome outcome;
    RowResult row;
    row.state = RowState::Ok;
    outcome.run.rows = {row};
    EXPECT_EQ(outcome.status(), ExitStatus::Ok);
    row.state = RowState::Failed;
    outcome.run.rows.push_back(row);
    EXPECT_EQ(outcome.status(), ExitStatus::RowFailed);
    outcome.result = {SessionError::NotFound, "gone"};
    EXPECT_EQ(outcome.status(), ExitStatus::Unreachable);
    outcome.interrupted = true;  // an interrupt outranks what it caused
    EXPECT_EQ(outcome.status(), ExitStatus::Interrupted);

    EXPECT_EQ(Worst(ExitStatus::Ok, ExitStatus::RowFailed), ExitStatus::RowFailed);
    EXPECT_EQ(Worst(ExitStatus::Unreachable, ExitStatus::RowFailed), ExitStatus::Unreachable);
    EXPECT_EQ(Worst(ExitStatus::Usage, ExitStatus::Interrupted), ExitStatus::Interrupted);
    EXPECT_EQ(ExitStatusName(ExitStatus::Interrupted), "interrupted");
}

TEST(ConsoleQuestions, AnsweredByIdFromTheTableOrTheSafeButtonAndARecordOfIt) {
    ConsoleUi ui;
    const std::vector<MsgButton> yesCancel{MsgButton::Yes, MsgButton::Cancel};
    // Unanswered: the default (safe) button at once, and the question is kept.
    EXPECT_EQ(ui.ask(QuestionId::ConfirmUpgrade, "Do you really want to upgrade?",
                     DialogKind::Confirmation, yesCancel, static_cast<int>(MsgButton::Cancel)),
              MsgButton::Cancel);
    ASSERT_TRUE(ui.unanswered());
    EXPECT_EQ(ui.unanswered()->id, QuestionId::ConfirmUpgrade);
    EXPECT_EQ(FlagFor(ui.unanswered()->id), "--yes");

    // The answer goes by the question's id, whatever its wording.
    ui.resetCollected();
    for (QuestionId id : QuestionIdsOf(Question::UnreachableDevice)) ui.setAnswer(id, MsgButton::Yes);
    EXPECT_EQ(ui.ask(QuestionId::RestoreUnreachable, "reworded", DialogKind::Confirmation,
                     yesCancel, static_cast<int>(MsgButton::Cancel)),
              MsgButton::Yes);
    EXPECT_EQ(ui.ask(QuestionId::ConfirmUpgrade, "Do you really want to upgrade?",
                     DialogKind::Confirmation, yesCancel, static_cast<int>(MsgButton::Cancel)),
              MsgButton::Cancel);
}

}  // namespace
}  // namespace kv::cli
