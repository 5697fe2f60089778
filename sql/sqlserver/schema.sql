-- Installation database, SQL Server edition: the tables the job reads and
-- writes. Run with sqlcmd against the installation's database, e.g.
--   sqlcmd -S host -d EMPRESAS -U sa -i schema.sql
-- Existing tables are left alone.
SET NOCOUNT ON;
GO

-- Settings of the installation, one row per variable. No key: the job
-- copes with a variable that appears more than once.
IF OBJECT_ID(N'dbo.Configuracion', N'U') IS NULL
CREATE TABLE dbo.Configuracion (
  Cf_Variable varchar(100) NOT NULL,
  Cf_Valor    varchar(1000) NULL
);
GO

-- Stamping servers; Es_Cve_Estado 'BA' marks a retired one. St_Ping holds
-- the last measured latency in milliseconds, -1 when none was measured.
IF OBJECT_ID(N'dbo.Servidor_Timbrado', N'U') IS NULL
CREATE TABLE dbo.Servidor_Timbrado (
  St_ID         varchar(20)    NULL,
  St_Url        varchar(500)   NULL,
  Es_Cve_Estado varchar(10)    NULL,
  St_Ping       numeric(18, 4) NULL
);
GO

-- One row per use of a stamping transaction; Enviado goes from 'NO' to
-- 'SI' once the usage report that counted it has been accepted.
IF OBJECT_ID(N'dbo.Transaccion_Uso', N'U') IS NULL
BEGIN
  CREATE TABLE dbo.Transaccion_Uso (
    Id          int IDENTITY(1, 1) NOT NULL PRIMARY KEY,
    Transaccion varchar(100) NOT NULL,
    Server_Id   varchar(50)  NULL,
    Fecha       datetime     NOT NULL DEFAULT GETDATE(),
    Enviado     varchar(2)   NOT NULL DEFAULT 'NO'
  );
  CREATE INDEX IX_Transaccion_Uso_Enviado_Fecha ON dbo.Transaccion_Uso (Enviado, Fecha);
END
GO

-- Operator accounts of the installation.
IF OBJECT_ID(N'dbo.Operadores', N'U') IS NULL
CREATE TABLE dbo.Operadores (
  Operador varchar(50)  NOT NULL PRIMARY KEY,
  Nombre   varchar(200) NULL,
  Email    varchar(200) NULL
);
GO
