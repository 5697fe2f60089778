-- Installation database, SQL Server edition: the tables the job reads and
-- writes. Run with sqlcmd against the installation's database, e.g.
--   sqlcmd -S host -d EMPRESAS -U sa -i schema.sql
-- Existing tables are left alone; a key or index that is missing is added,
-- so the script may be run again on an installation made before it had them.
SET NOCOUNT ON;
GO

-- Settings of the installation, one row per variable. No unique key: the
-- job copes with a variable that appears more than once. The index serves
-- the job's lookup of one variable by name.
IF OBJECT_ID(N'dbo.Configuracion', N'U') IS NULL
CREATE TABLE dbo.Configuracion (
  Cf_Variable varchar(100) NOT NULL,
  Cf_Valor    varchar(1000) NULL
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'IX_Configuracion_Cf_Variable'
               AND object_id = OBJECT_ID(N'dbo.Configuracion'))
CREATE INDEX IX_Configuracion_Cf_Variable ON dbo.Configuracion (Cf_Variable);
GO

-- Stamping servers; Es_Cve_Estado 'BA' marks a retired one. St_Ping holds
-- the last measured latency in milliseconds, -1 when none was measured.
-- St_ID names one server: the latency sweep updates each row by it, so
-- without the key every update would read the whole table. (SQL Server
-- lets one row, not several, leave St_ID NULL under this key; creating it
-- fails on a table that already holds one St_ID twice.)
IF OBJECT_ID(N'dbo.Servidor_Timbrado', N'U') IS NULL
CREATE TABLE dbo.Servidor_Timbrado (
  St_ID         varchar(20)    NULL,
  St_Url        varchar(500)   NULL,
  Es_Cve_Estado varchar(10)    NULL,
  St_Ping       numeric(18, 4) NULL
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'UX_Servidor_Timbrado_St_ID'
               AND object_id = OBJECT_ID(N'dbo.Servidor_Timbrado'))
CREATE UNIQUE INDEX UX_Servidor_Timbrado_St_ID ON dbo.Servidor_Timbrado (St_ID);
GO

-- One row per use of a stamping transaction; Enviado goes from 'NO' to
-- 'SI' once the usage report that counted it has been accepted. The usage
-- report counts and marks by Enviado = 'NO' AND Fecha <= cut-off; the
-- roster takes the latest record by Fecha.
IF OBJECT_ID(N'dbo.Transaccion_Uso', N'U') IS NULL
CREATE TABLE dbo.Transaccion_Uso (
  Id          int IDENTITY(1, 1) NOT NULL PRIMARY KEY,
  Transaccion varchar(100) NOT NULL,
  Server_Id   varchar(50)  NULL,
  Fecha       datetime     NOT NULL DEFAULT GETDATE(),
  Enviado     varchar(2)   NOT NULL DEFAULT 'NO'
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'IX_Transaccion_Uso_Enviado_Fecha'
               AND object_id = OBJECT_ID(N'dbo.Transaccion_Uso'))
CREATE INDEX IX_Transaccion_Uso_Enviado_Fecha ON dbo.Transaccion_Uso (Enviado, Fecha);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'IX_Transaccion_Uso_Fecha'
               AND object_id = OBJECT_ID(N'dbo.Transaccion_Uso'))
CREATE INDEX IX_Transaccion_Uso_Fecha ON dbo.Transaccion_Uso (Fecha);
GO

-- Operator accounts of the installation.
IF OBJECT_ID(N'dbo.Operadores', N'U') IS NULL
CREATE TABLE dbo.Operadores (
  Operador varchar(50)  NOT NULL PRIMARY KEY,
  Nombre   varchar(200) NULL,
  Email    varchar(200) NULL
);
GO
