// An argument vector in the local 8-bit encoding for QCoreApplication, which
// keeps pointers to the strings and a reference to the count: the object
// must outlive the application made from it.
#pragma once

#include <QByteArray>
#include <QStringList>

#include <vector>

class LocalArguments
{
public:
    explicit LocalArguments(const QStringList& arguments)
    {
        storage.reserve(static_cast<std::size_t>(arguments.size()));
        for (const QString& argument : arguments)
            storage.push_back(argument.toLocal8Bit());
        for (QByteArray& argument : storage)
            pointers.push_back(argument.data());
        pointers.push_back(nullptr);
        count = static_cast<int>(storage.size());
    }

    LocalArguments(const LocalArguments&) = delete;
    LocalArguments& operator=(const LocalArguments&) = delete;

    int& argc() { return count; }
    char** argv() { return pointers.data(); }

private:
    std::vector<QByteArray> storage;
    std::vector<char*> pointers;
    int count = 0;
};
