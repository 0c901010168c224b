// Decoding is table-driven; the tables are built at compile time in decode.h.
