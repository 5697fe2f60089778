-- Installation database, PostgreSQL edition, for testing the ODBC session
-- against a real server. Names are written unquoted, exactly as the job's
-- statements write them, so PostgreSQL folds both to lower case and they
-- meet. sysobjects and GetDate() stand in for SQL Server's catalog and
-- clock so that the job's statements run unchanged.
CREATE EXTENSION IF NOT EXISTS citext;

-- Keys and indexes as in the SQLite edition: one lookup of a variable by
-- name, the sweep's update of each server by St_ID, the usage report's
-- Enviado = 'NO' AND Fecha <= cut-off and the roster's latest Fecha.
CREATE TABLE IF NOT EXISTS Configuracion (
  Cf_Variable varchar(100) NOT NULL,
  Cf_Valor    varchar(1000)
);
CREATE INDEX IF NOT EXISTS IX_Configuracion_Cf_Variable ON Configuracion (Cf_Variable);

CREATE TABLE IF NOT EXISTS Servidor_Timbrado (
  St_ID         varchar(20),
  St_Url        varchar(500),
  Es_Cve_Estado varchar(10),
  St_Ping       numeric(18, 4)
);
CREATE UNIQUE INDEX IF NOT EXISTS UX_Servidor_Timbrado_St_ID ON Servidor_Timbrado (St_ID);

CREATE TABLE IF NOT EXISTS Transaccion_Uso (
  Id          serial PRIMARY KEY,
  Transaccion varchar(100) NOT NULL,
  Server_Id   varchar(50),
  Fecha       timestamp(0) NOT NULL DEFAULT date_trunc('second', localtimestamp),
  Enviado     varchar(2) NOT NULL DEFAULT 'NO'
);
CREATE INDEX IF NOT EXISTS IX_Transaccion_Uso_Enviado_Fecha
  ON Transaccion_Uso (Enviado, Fecha);
CREATE INDEX IF NOT EXISTS IX_Transaccion_Uso_Fecha ON Transaccion_Uso (Fecha);

CREATE TABLE IF NOT EXISTS Operadores (
  Operador varchar(50) PRIMARY KEY,
  Nombre   varchar(200),
  Email    varchar(200)
);

-- SQL Server's catalog as far as the job reads it: tables are type 'U',
-- views 'V'. The name is citext so that 'Transaccion_Uso' finds the table
-- PostgreSQL stores as transaccion_uso, as SQL Server's case-insensitive
-- default collation would.
CREATE OR REPLACE VIEW sysobjects AS
  SELECT c.relname::citext AS Name,
         (CASE c.relkind WHEN 'v' THEN 'V' ELSE 'U' END)::varchar(2) AS type
    FROM pg_catalog.pg_class c
    JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace
   WHERE n.nspname = current_schema()
     AND c.relkind IN ('r', 'p', 'v');

-- The server's clock without fractions of a second, shown as
-- 'YYYY-MM-DD hh:mm:ss' like SQL Server's datetime.
CREATE OR REPLACE FUNCTION GetDate() RETURNS timestamp
  LANGUAGE sql STABLE
  AS $$ SELECT date_trunc('second', localtimestamp) $$;
