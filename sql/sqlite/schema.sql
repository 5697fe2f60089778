-- Installation database, embedded SQLite edition.
-- Dates are stored as 'YYYY-MM-DD hh:mm:ss' text, so they order and compare
-- with the jobs' date literals as plain text does. Table and column names
-- are those the jobs' statements use; sysobjects and GetDate() are supplied
-- by the session itself when it opens the file.
PRAGMA journal_mode = WAL;

-- Settings of the installation, one row per variable. No unique key: the
-- job copes with a variable that appears more than once. The index serves
-- the job's lookup of one variable by name.
CREATE TABLE IF NOT EXISTS Configuracion (
  Cf_Variable TEXT NOT NULL,
  Cf_Valor    TEXT
);
CREATE INDEX IF NOT EXISTS IX_Configuracion_Cf_Variable ON Configuracion (Cf_Variable);

-- Stamping servers; Es_Cve_Estado 'BA' marks a retired one. St_Ping holds
-- the last measured latency in milliseconds, -1 when none was measured.
-- St_ID names one server: the latency sweep updates each row by it, so
-- without the key every update would read the whole table.
CREATE TABLE IF NOT EXISTS Servidor_Timbrado (
  St_ID         TEXT,
  St_Url        TEXT,
  Es_Cve_Estado TEXT,
  St_Ping       NUMERIC
);
CREATE UNIQUE INDEX IF NOT EXISTS UX_Servidor_Timbrado_St_ID ON Servidor_Timbrado (St_ID);

-- One row per use of a stamping transaction; Enviado goes from 'NO' to
-- 'SI' once the usage report that counted it has been accepted. The usage
-- report counts and marks by Enviado = 'NO' AND Fecha <= cut-off; the
-- roster takes the latest record by Fecha.
CREATE TABLE IF NOT EXISTS Transaccion_Uso (
  Id          INTEGER PRIMARY KEY AUTOINCREMENT,
  Transaccion TEXT NOT NULL,
  Server_Id   TEXT,
  Fecha       TEXT NOT NULL,
  Enviado     TEXT NOT NULL DEFAULT 'NO'
);
CREATE INDEX IF NOT EXISTS IX_Transaccion_Uso_Enviado_Fecha
  ON Transaccion_Uso (Enviado, Fecha);
CREATE INDEX IF NOT EXISTS IX_Transaccion_Uso_Fecha ON Transaccion_Uso (Fecha);

-- Operator accounts of the installation.
CREATE TABLE IF NOT EXISTS Operadores (
  Operador TEXT NOT NULL PRIMARY KEY,
  Nombre   TEXT,
  Email    TEXT
);
