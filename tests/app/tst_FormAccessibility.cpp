// The window as a screen reader finds it: every control's Spanish name, the picture buttons'
// tooltips, and what a schedule grid says of its focused slot.

#include "tests/app/FormFixture.h"

#include <QAccessible>
#include <gtest/gtest.h>

namespace {

QAccessibleInterface* Accessible(QWidget* w)
{
    return QAccessible::queryAccessibleInterface(w);
}

} // namespace

TEST(FormAccessibility, EveryControlHasItsSpanishNameAndState)
{
    auto form = MakeForm(14, 35);
    TFormVardo& f = *form;
    struct Row
    {
        QWidget* control;
        const char* name;
        const char* value; // what the control shows: QAccessible::Value
        const char* toolTip;
    };
    // clang-format off
    const Row rows[] = {
        {f.LoadGrid, "Abrir horario", "", "Abrir horario"},
        {f.SaveGrid, "Guardar horario", "", "Guardar horario"},
        {f.SpeedButton1, "Reloj en marcha/parado", "", "Reloj en marcha/parado"},
        {f.BitBtn1, "Acerca de", "", "Acerca de"},
        {f.Velocidad, "Modo de prueba", "", "Modo de prueba"},
        {f.D0, "D0: apagada", "", ""},
        {f.D5, "D5: apagada", "", ""},
        {f.D7, "D7: apagada", "", ""},
        {f.BSSGrid1, "Salida D0", "", ""},
        {f.BSSGrid6, "Salida D5", "", ""},
        {f.AnimatedBitmap3, "Tablero de lámparas", "", ""},
        {f.LuzTimer, "Luz del reloj", "", ""},
        {f.JOn, "Salida D0 ahora", "", ""},
        {f.TrackBar1, "Velocidad del modo de prueba", "1", ""},
        {f.wave, "Gráfica del nivel", "", ""},
        {f.LCDControl1, "Pantalla del nivel", "0", ""},
        {f.AudioLevel, "Nivel del micrófono", "0", ""},
    };
    // clang-format on
    for (const Row& r : rows) {
        const QString row = r.control->objectName();
        QAccessibleInterface* iface = Accessible(r.control);
        EXPECT_EQ(iface->text(QAccessible::Name), QString::fromUtf8(r.name)) << row.toStdString();
        EXPECT_EQ(iface->text(QAccessible::Value), QString::fromUtf8(r.value)) << row.toStdString();
        EXPECT_EQ(r.control->toolTip(), QString::fromUtf8(r.toolTip)) << row.toStdString();
    }
}

TEST(FormAccessibility, GridSaysTheFocusedSlotAndWhetherItIsMarked)
{
    auto form = MakeForm(14, 35);
    ClickTab(form.get(), 2);
    TBSSGrid* grid = form->BSSGrid3;
    const auto description = [&] { return Accessible(grid)->text(QAccessible::Description); };
    EXPECT_EQ(description(), "0:00, sin marcar");
    QTest::mouseClick(grid, Qt::LeftButton, Qt::NoModifier, CellMid(grid, 8, 15));
    EXPECT_EQ(description(), "14:35, marcada");
    QTest::keyClick(grid, Qt::Key_Left);
    EXPECT_EQ(description(), "14:30, marcada");
    QTest::mouseClick(grid, Qt::LeftButton, Qt::NoModifier, CellMid(grid, 8, 15));
    EXPECT_EQ(description(), "14:35, sin marcar");
}
