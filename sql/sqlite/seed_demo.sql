-- Sample rows for a demonstration installation (load after schema.sql).
-- The servers and the web service all live on the loopback interface.
DELETE FROM Configuracion;
DELETE FROM Servidor_Timbrado;
DELETE FROM Transaccion_Uso;
DELETE FROM Operadores;

INSERT INTO Configuracion (Cf_Variable, Cf_Valor) VALUES
  ('GEN_WEBSERVICE_UPDATE_URL', 'http://127.0.0.1:8080/update/update.asmx'),
  ('GEN_NOMBRE_EMPRESA', 'Empresa de Demostracion SA de CV');

INSERT INTO Servidor_Timbrado (St_ID, St_Url, Es_Cve_Estado, St_Ping) VALUES
  ('1', 'http://127.0.0.1:8081/timbrado/timbrado.asmx', 'AC', NULL),
  ('2', 'http://127.0.0.1:8082/timbrado/timbrado.asmx', 'AC', 12.5),
  ('3', 'https://127.0.0.1:8443/timbrado/timbrado.asmx', 'AC', -1),
  ('4', 'http://127.0.0.1:8084/timbrado/timbrado.asmx', 'BA', 80);

-- Usage of the last days, relative to now so the demo always has fresh
-- unreported records: some not yet reported ('NO'), some already ('SI').
INSERT INTO Transaccion_Uso (Transaccion, Server_Id, Fecha, Enviado) VALUES
  ('TIMBRADO', 'SRV-DEMO-01', datetime('now', 'localtime', '-3 days'), 'SI'),
  ('TIMBRADO', 'SRV-DEMO-01', datetime('now', 'localtime', '-3 days', '+5 minutes'), 'SI'),
  ('CANCELACION', 'SRV-DEMO-01', datetime('now', 'localtime', '-2 days'), 'SI'),
  ('TIMBRADO', 'SRV-DEMO-01', datetime('now', 'localtime', '-1 day'), 'NO'),
  ('TIMBRADO', 'SRV-DEMO-01', datetime('now', 'localtime', '-20 hours'), 'NO'),
  ('TIMBRADO', 'SRV-DEMO-01', datetime('now', 'localtime', '-6 hours'), 'NO'),
  ('CANCELACION', 'SRV-DEMO-01', datetime('now', 'localtime', '-5 hours'), 'NO'),
  ('CONSULTA', 'SRV-DEMO-01', datetime('now', 'localtime', '-1 hours'), 'NO'),
  ('TIMBRADO', 'SRV-DEMO-02', datetime('now', 'localtime', '-30 minutes'), 'NO');

INSERT INTO Operadores (Operador, Nombre, Email) VALUES
  ('CONFIG', 'Configuracion del sistema', 'soporte@example.com'),
  ('DESARROLLO', 'Cuenta de desarrollo', 'desarrollo@example.com'),
  ('ADMIN', 'Administrador General', 'admin@example.com'),
  ('MGARCIA', 'Maria Garcia Lopez', 'mgarcia@example.com'),
  ('JPEREZ', 'Juan Perez Ramirez', NULL);
