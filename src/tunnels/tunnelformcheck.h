#pragma once

#include <QString>

// The notice for the first empty field of the create and edit forms, checked
// in the order name, address, port; empty when all three are filled. Only
// emptiness counts: blanks pass, and the port is left to the provider.
QString tunnelFormNotice(const QString &name, const QString &address, const QString &port);
