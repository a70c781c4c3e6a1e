/* sqlite_read FILE TABLE: reads every row and column of TABLE in the SQLite
 * file FILE through SQLite alone, as the embedded client's result set does
 * (one sqlite3_step per row, each column's type, then its value), and
 * nothing else: the least the embedded database costs any program that
 * exports the table from it. Exits with 1 on any failure. */
#include <sqlite3.h>
#include <stdio.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: sqlite_read FILE TABLE\n");
        return 1;
    }
    sqlite3* db = NULL;
    sqlite3_stmt* st = NULL;
    char sql[512];
    snprintf(sql, sizeof sql, "SELECT * FROM \"%s\"", argv[2]);
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, NULL) != SQLITE_OK ||
        sqlite3_prepare_v2(db, sql, -1, &st, NULL) != SQLITE_OK) {
        fprintf(stderr, "%s\n", sqlite3_errmsg(db));
        return 1;
    }
    unsigned long long rows = 0, sum = 0;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        int columns = sqlite3_column_count(st);
        for (int i = 0; i < columns; ++i) {
            switch (sqlite3_column_type(st, i)) {
                case SQLITE_INTEGER: sum += (unsigned long long)sqlite3_column_int64(st, i); break;
                case SQLITE_FLOAT: sum += (unsigned long long)sqlite3_column_double(st, i); break;
                case SQLITE_TEXT: sum += sqlite3_column_text(st, i)[0] + (unsigned)sqlite3_column_bytes(st, i); break;
                case SQLITE_BLOB: {
                    int n = sqlite3_column_bytes(st, i);
                    const unsigned char* b = sqlite3_column_blob(st, i);
                    sum += (unsigned)n + (n > 0 ? b[n - 1] : 0);
                    break;
                }
                default: break;
            }
        }
        ++rows;
    }
    if (rc != SQLITE_DONE) {
        fprintf(stderr, "%s\n", sqlite3_errmsg(db));
        return 1;
    }
    printf("%llu rows (%llu)\n", rows, sum);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return 0;
}
