#pragma once

// "About Tarnwick": the program's name and version and the maker's contact links.

#include <QDialog>
#include <QUrl>

#include <functional>

class QLabel;
class QPushButton;

namespace tarnwick {

// The maker's contacts; the labels show them as they are.
inline constexpr const char* SupportEmail = "service@kaldor.example";
inline constexpr const char* MakerWeb = "https://www.kaldor.example";

class TFormAbout final : public QDialog {
public:
    // openUrl hands a mailto: or https: link to the user's default program.
    TFormAbout(const QString& versionText, std::function<void(const QUrl&)> openUrl, QWidget* parent = nullptr);

    void Label3Click();  // the e-mail address
    void Label4Click();  // the web address
    void Button1Click();

private:
    void FormCreate(const QString& versionText);

    std::function<void(const QUrl&)> openUrl_;
    QLabel* Label1 = nullptr;
    QPushButton* Label3 = nullptr;
    QPushButton* Label4 = nullptr;
};

}  // namespace tarnwick
