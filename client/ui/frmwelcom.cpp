#include "client/ui/frmwelcom.h"

#include "client/ui/productlogo.h"
#include "client/ui/windowplacement.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace kestro::ui {

QLabel* makeLinkLabel(const QString& url, const QString& text, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setText(
        QStringLiteral("<a href=\"%1\">%2</a>").arg(url.toHtmlEscaped(), text.toHtmlEscaped()));
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::TextBrowserInteraction);
    label->setOpenExternalLinks(false);
    QObject::connect(label, &QLabel::linkActivated,
                     [](const QString& link) { QDesktopServices::openUrl(QUrl(link)); });
    return label;
}

FrmWelcom::FrmWelcom(const DeployConfig& config, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmWelcom"));
    setWindowTitle(QStringLiteral("KestroFTP - Client"));
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setPixmap(productLogo(56));
    layout->addWidget(image, 0, Qt::AlignHCenter);

    auto addLabel = [&](const char* name, const QString& text, bool heading = false) {
        auto* label = new QLabel(text, this);
        label->setObjectName(QString::fromLatin1(name));
        label->setWordWrap(true);
        if (heading) {
            QFont f = label->font();
            f.setBold(true);
            f.setPointSizeF(f.pointSizeF() * 1.3);
            label->setFont(f);
            label->setAlignment(Qt::AlignHCenter);
        }
        layout->addWidget(label);
        return label;
    };
    addLabel("Label2", QStringLiteral("Willkomen zum KestroFTP - Client"), true);
    addLabel(
        "Label1",
        QStringLiteral("Im nächsten Schritt werden Sie aufgefordert eine Datenbank anzulegen !"));
    addLabel("Label4",
             QStringLiteral("Möchten Sie von mehreren Arbeitsplätzen auf die Datenbank zugreifen, "
                            "so wählen Sie bitte einen Ordner auf dem von jedem Arbeitsplatz "
                            "zugegriffen werden kann. Üblicherweise handelt es sich hierbei um ein "
                            "Netzlaufwerk."));
    addLabel(
        "Label3",
        QStringLiteral("Achten Sie bitte darauf, dass Sie in diesem Ordner Schreibrechte haben."));
    addLabel(
        "Label7",
        QStringLiteral("Füllen Sie dann bitte das Formular für die Stammdaten aus. Es erscheint "
                       "beim ersten Start automatisch und kann jederzeit über die Optionen "
                       "aufgerufen werden, um eventuelle Änderungen vorzunehmen."));
    addLabel("Label8", QStringLiteral("Bei der erstmaligen Verwendung benötigen Sie für den Start "
                                      "eine Internetverbindung."));
    auto* site = makeLinkLabel(config.site, config.site, this);
    site->setObjectName(QStringLiteral("Label5"));
    layout->addWidget(site, 0, Qt::AlignHCenter);
    auto* contact = addLabel("Label6", config.contact);
    contact->setAlignment(Qt::AlignHCenter);

    auto* buttons = new QDialogButtonBox(this);
    auto* ok = buttons->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);

    setMinimumWidth(460);
    resize(520, sizeHint().height());
    centerOnScreen(this);
}

} // namespace kestro::ui
