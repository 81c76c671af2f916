// PrVardo: the 24-hour switch timer for the six-output power strip.

#include "app/UnitVardo.h"
#include "platform/Application.h"

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    TFormVardo FormVardo;
    FormVardo.show();
    return application.exec();
}
