// Messages of the engine shown as Qt message boxes, from the interface thread and from a worker
// that must wait for the answer while the window stays usable.
#include "UiTestSupport.h"
#include "platform/Message.h"
#include "ui/QtMessageBackend.h"

#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

class MessageBoxTest : public QObject {
    Q_OBJECT
private slots:

    void MessageOnTheInterfaceThreadIsModalWithTextAndCaption()
    {
        QString text, caption;
        bool modal = false;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            QVERIFY(box != nullptr);
            text = box->text();
            caption = box->windowTitle();
            modal = box->isModal();
            icon = box->icon();
            uitest::Press(box, QMessageBox::Ok);
        });
        ShowMessage("can not open source file!\nline two", "varkonel");
        QCOMPARE(watcher.Seen(), 1);
        QCOMPARE(text, QStringLiteral("can not open source file!\nline two"));
        QCOMPARE(caption, QStringLiteral("varkonel"));
        QVERIFY(modal);
        QCOMPARE(icon, QMessageBox::Warning);
    }

    void QuestionOnTheInterfaceThreadGivesTheAnswer()
    {
        for (int answer : {int(QMessageBox::Yes), int(QMessageBox::No)}) {
            uitest::DialogWatcher watcher([&](QWidget* widget) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                QVERIFY(box != nullptr);
                uitest::Press(box, answer);
            });
            QCOMPARE(AskYesNo("Overwrite?", "varkonel"), answer == QMessageBox::Yes);
        }
    }

    void WorkerWaitsForTheAnswerWhileTheDialogStaysUsable()
    {
        // A modal dialog in front, as the Convert dialog is while its worker runs.
        QDialog dialog;
        auto* abort = new QPushButton(QStringLiteral("ABORT"), &dialog);
        abort->setGeometry(10, 10, 80, 30);
        int abortClicks = 0;
        connect(abort, &QPushButton::clicked, [&] { ++abortClicks; });
        dialog.resize(200, 100);
        dialog.setModal(true);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));

        std::atomic<int> result {-1};
        std::thread worker([&] { result = AskYesNo("The file exists. Overwrite?", "varkonel") ? 1 : 0; });
        QMessageBox* box = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(
            (box = uitest::VisibleMessageBoxes().empty() ? nullptr : uitest::VisibleMessageBoxes().back()),
            5000);
        QCOMPARE(box->text(), QStringLiteral("The file exists. Overwrite?"));
        QCOMPARE(box->windowModality(), Qt::NonModal);
        QCOMPARE(QApplication::activeModalWidget(), &dialog);
        // The worker is still waiting.
        QTest::qWait(50);
        QCOMPARE(result.load(), -1);
        // A click through the window system reaches the dialog's button: it is not blocked.
        QVERIFY(QTest::qWaitForWindowExposed(box));
        QTest::mouseClick(dialog.windowHandle(), Qt::LeftButton, {}, abort->geometry().center());
        QCOMPARE(abortClicks, 1);

        uitest::Press(box, QMessageBox::Yes);
        QTRY_COMPARE_WITH_TIMEOUT(result.load(), 1, 5000);
        worker.join();
    }

    void WorkerGetsNoWhenTheBoxIsClosedWithoutAnAnswer()
    {
        std::atomic<int> result {-1};
        std::thread worker([&] { result = AskYesNo("Overwrite?", "varkonel") ? 1 : 0; });
        QTRY_VERIFY_WITH_TIMEOUT(!uitest::VisibleMessageBoxes().empty(), 5000);
        delete uitest::VisibleMessageBoxes().back();
        QTRY_COMPARE_WITH_TIMEOUT(result.load(), 0, 5000);
        worker.join();

        // A plain message from a worker returns once it was seen.
        std::atomic<bool> returned {false};
        std::thread second([&] {
            ShowMessage("Cannot open output file.", "varkonel");
            returned = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(!uitest::VisibleMessageBoxes().empty(), 5000);
        QVERIFY(!returned.load());
        uitest::Press(uitest::VisibleMessageBoxes().back(), QMessageBox::Ok);
        QTRY_VERIFY_WITH_TIMEOUT(returned.load(), 5000);
        second.join();
    }

private:
    uitest::WindowTestSetup setup;
};

QTEST_MAIN(MessageBoxTest)
#include "MessageBoxTest.moc"
