// The panel's value box draws itself from a kept picture of its frame: it
// must look exactly as the line edit it stands in for, whatever it shows.
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <gtest/gtest.h>

#include "app/Look.h"
#include "app/ValueBox.h"

using namespace tavrik;

TEST(ValueBox, LooksAsALineEditWithTheSameTextAndColours) {
    struct Case {
        QString text;
        QColor background;
    } cases[] = {
        {QStringLiteral("8049"), Qt::white},
        {QStringLiteral("-2458.01"), Qt::white},
        {QStringLiteral("&HC404"), QColor(255, 255, 192)},
        {QStringLiteral("norm"), QColor(255, 96, 96)},
        {QString(), Qt::white},
        // Too wide for the box: scrolled as the line edit scrolls it.
        {QStringLiteral("123456789012345"), Qt::white},
    };
    QGroupBox group(QStringLiteral("Status"));
    group.setPalette(look::TextPalette());
    group.resize(260, 80);
    auto* plain = new QLineEdit(&group);
    QLineEdit* box = new ValueBox(&group);
    for (QLineEdit* e : {plain, box}) {
        e->setReadOnly(true);
        e->setFocusPolicy(Qt::NoFocus);
        e->setTextMargins(0, 0, 0, 0);
        e->setFont(look::BaseFont());
    }
    plain->setGeometry(20, 25, 64, 17);
    box->setGeometry(120, 25, 64, 17);
    group.show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        for (QLineEdit* e : {plain, box}) {
            e->setPalette(look::BoxPalette(c.background));
            e->setText(c.text);
        }
        const QImage drawn = group.grab().toImage();
        EXPECT_EQ(drawn.copy(box->geometry()), drawn.copy(plain->geometry()));
    }
}
