#pragma once
// The program's settings of a throw-away cluster's database (tests/support/PgCluster.h): the
// socket folder, the superuser (trusted on the socket) or another role, a short time-out.

#include "tests/support/PgCluster.h"
#include "uPlantStore.h"

inline TPlantServerSettings PlantServerSettings(const TPgCluster& cluster, const QString& database,
                                                const QString& user = QString()) {
    TPlantServerSettings s;
    s.Enabled = true;
    s.Host = cluster.SocketDir();
    s.Port = cluster.Port();
    s.Database = database;
    s.User = user.isEmpty() ? cluster.SuperUser() : user;
    s.ConnectTimeoutS = 5;
    return s;
}
