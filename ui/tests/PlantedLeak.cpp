// Built only with AddressSanitizer: draws a label's text, which has Qt ask fontconfig for fonts,
// then loses a block of its own. The test around it expects LeakSanitizer to report exactly that
// block, so that the suppressions for leaks inside system libraries (tests/lsan.supp) never hide
// a leak of ours.
#include <QApplication>
#include <QLabel>
#include <QPixmap>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Output folder: /tmp — MP3 · 128 kbit/s"));
    label.adjustSize();
    const QPixmap drawn = label.grab();
    int* lost = new int[7] {};
    lost = nullptr;
    return drawn.isNull() || lost != nullptr ? 1 : 0;
}
