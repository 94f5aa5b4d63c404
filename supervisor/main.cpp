// quillonsvc: runs the Quillon Java application as a service, or manages it.
#include "ferrowservice.h"

int main(int argc, char** argv)
{
    const QString name = QStringLiteral("Quillon");
    FerrowService service(argc, argv, name);
    return service.exec();
}
