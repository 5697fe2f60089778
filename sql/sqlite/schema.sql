-- Installation database, embedded SQLite edition.
-- Dates are stored as 'YYYY-MM-DD hh:mm:ss' text, so they order and compare
-- with the jobs' date literals as plain text does. Table and column names
-- are those the jobs' statements use; sysobjects and GetDate() are supplied
-- by the session itself when it opens the file.
PRAGMA journal_mode = WAL;

-- Settings of the installation, one row per variable. No key: the job
-- copes with a variable that appears more than once.
CREATE TABLE IF NOT EXISTS Configuracion (
  Cf_Variable TEXT NOT NULL,
  Cf_Valor    TEXT
);

-- Stamping servers; Es_Cve_Estado 'BA' marks a retired one. St_Ping holds
-- the last measured latency in milliseconds, -1 when none was measured.
CREATE TABLE IF NOT EXISTS Servidor_Timbrado (
  St_ID         TEXT,
  St_Url        TEXT,
  Es_Cve_Estado TEXT,
  St_Ping       NUMERIC
);

-- One row per use of a stamping transaction; Enviado goes from 'NO' to
-- 'SI' once the usage report that counted it has been accepted.
CREATE TABLE IF NOT EXISTS Transaccion_Uso (
  Id          INTEGER PRIMARY KEY AUTOINCREMENT,
  Transaccion TEXT NOT NULL,
  Server_Id   TEXT,
  Fecha       TEXT NOT NULL,
  Enviado     TEXT NOT NULL DEFAULT 'NO'
);
CREATE INDEX IF NOT EXISTS IX_Transaccion_Uso_Enviado_Fecha
  ON Transaccion_Uso (Enviado, Fecha);

-- Operator accounts of the installation.
CREATE TABLE IF NOT EXISTS Operadores (
  Operador TEXT NOT NULL PRIMARY KEY,
  Nombre   TEXT,
  Email    TEXT
);
