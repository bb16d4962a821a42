#include "client/compose/startfolder.h"

#include "common/settingwriter.h"

namespace kestro::compose {

QString rememberFlagText(bool rememberLast) {
    return rememberLast ? QStringLiteral("Yes") : QStringLiteral("No");
}

bool rememberFlagFromText(const QString& text) {
    return text == QLatin1String("Yes");
}

void storeStartFolder(SettingWriter& writer, const StartFolder& start) {
    writer.writeSetting(QStringLiteral("FolderDir"), start.folder);
    writer.writeSetting(QStringLiteral("valFolderDir"), rememberFlagText(start.rememberLast));
}

} // namespace kestro::compose
