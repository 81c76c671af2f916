// Entry of the test programs of the GUI-free folders: a QCoreApplication, so that they load
// neither Qt Gui nor Qt Widgets.

#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
