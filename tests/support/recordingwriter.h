#pragma once

#include "common/settingwriter.h"

#include <QStringList>

namespace kestro::test {

// Keeps every setting written, in order, as "name=value": what Vellmon would be asked to store.
class RecordingWriter : public SettingWriter {
public:
    void writeSetting(const QString& name, const QString& value) override {
        writes << name + QLatin1Char('=') + value;
    }
    QStringList writes;
};

} // namespace kestro::test
