#pragma once
// About box "О программе": a picture, what the program is for, its version and build time, and
// where its data, settings and request logs are kept, in a white box with a dialog border, centred
// on the desktop. Modal; Esc closes it. User-interface thread.

#include <QDateTime>
#include <QDialog>
#include <optional>

class QLabel;
class QVBoxLayout;

class TFormAbout : public QDialog {
    Q_OBJECT
public:
    // version: the text after "Версия: "; built: the build time, none to leave "Компиляция";
    // places: the lines naming the data, settings and log folders (DataPlaceLines), shown
    // smaller.
    TFormAbout(const QString& version, const std::optional<QDateTime>& built,
               const QStringList& places = {}, QWidget* parent = nullptr);

    QLabel* imgPicture = nullptr;
    QLabel* lblPurpose = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblDateTime = nullptr;
    QLabel* lblDataDir = nullptr; // "Данные: …", when places were given
    QLabel* lblWorkDir = nullptr; // "Настройки: …", likewise
    QLabel* lblLogDir = nullptr;  // "Журналы: …", likewise

    // The picture at the top, 240 × 180: a radar level gauge over a tank.
    static QPixmap Picture();

private:
    // The lines under the picture, top to bottom; a new line goes here.
    QVBoxLayout* Lines_ = nullptr;
};

// Opens the about box modally with this program's version, build time and folders in force.
// Returns 0.
int ShowAbout();
