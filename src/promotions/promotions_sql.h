#pragma once
// The statements of the promotion job, kept whole on one line each so that they can be compared
// with the point-of-sale system's own queries at a glance.

namespace zv::promotions_sql {

// clang-format off
inline constexpr const char* kStamp =
    "update padrao p set p.zentrovia_verificapromo = :agora";

// The promotion row as the payment-method path writes it.
inline constexpr const char* kPromotionRowPayment =
    "UPDATE OR INSERT INTO ZENTROVA_PROMOCOES(  CODIGOPROMOCAO,  DATAINICIAL,  DATAFINAL,  LIMITE,  TIPOPROMOCAO,  QUANTIDADEMINIMA,  DESCONTOPORCENTAGEM,  DESCONTOFIXO,  PRECOFIXO,  LEVE,  PAGUE,  DESCRICAO,  REJEITADA  )VALUES( :CODIGOPROMOCAO, :DATAINICIAL, :DATAFINAL, :LIMITE, :TIPOPROMOCAO, :QUANTIDADEMINIMA, :DESCONTOPORCENTAGEM, :DESCONTOFIXO, :PRECOFIXO, :LEVE, :PAGUE, :DESCRICAO,  NULL)MATCHING (CODIGOPROMOCAO)";

// The same row as the plain path writes it.
inline constexpr const char* kPromotionRowPlain =
    "UPDATE OR INSERT INTO ZENTROVA_PROMOCOES( CODIGOPROMOCAO,  DATAINICIAL,  DATAFINAL,  LIMITE,  TIPOPROMOCAO,  QUANTIDADEMINIMA,  DESCONTOPORCENTAGEM,  DESCONTOFIXO,  PRECOFIXO,  LEVE,  PAGUE,  DESCRICAO,  REJEITADA  )VALUES( :CODIGOPROMOCAO, :DATAINICIAL, :DATAFINAL, :LIMITE, :TIPOPROMOCAO, :QUANTIDADEMINIMA, :DESCONTOPORCENTAGEM, :DESCONTOFIXO, :PRECOFIXO, :LEVE, :PAGUE, :DESCRICAO,  NULL)  MATCHING (CODIGOPROMOCAO)";

inline constexpr const char* kProductRow =
    "UPDATE OR INSERT INTO ZENTROVA_PROMOCOES_PRODUTOS( CODIGOPROMOCAO, CODIGOPRODUTO)VALUES( :CODIGOPROMOCAO, :CODIGOPRODUTO) MATCHING (CODIGOPROMOCAO, CODIGOPRODUTO)";

inline constexpr const char* kBinRow =
    "UPDATE OR INSERT INTO ZENTROVA_PROMOCOES_BIN(CODIGOPROMOCAO, BIN, CREDITODEBITO )VALUES( :CODIGOPROMOCAO, :BIN, :CREDITODEBITO )MATCHING( CODIGOPROMOCAO, BIN)";

inline constexpr const char* kFindBasket =
    "SELECT FIRST 1 CODIGO, CODIGOZENTROVA FROM CESTASPROMOCIONAIS WHERE CODIGOZENTROVA = :CODIGOZENTROVA";

inline constexpr const char* kNextBasketNumber =
    "SELECT GEN_ID(GEN_CESTASPROMOCIONAIS, 1) AS CODIGO FROM RDB$DATABASE";

// A basket accepted again loses its rejection mark, as a promotion row does.
inline constexpr const char* kBasketRow =
    "UPDATE OR INSERT INTO CESTASPROMOCIONAIS(CODIGO, DESCRICAO, DATAINICIOPROMOCAO, DATAFINALPROMOCAO, CODIGOZENTROVA, REJEITADA  )VALUES( :CODIGO, :DESCRICAO, :DATAINICIOPROMOCAO, :DATAFINALPROMOCAO, :CODIGOZENTROVA, NULL)  MATCHING(CODIGO)";

inline constexpr const char* kBasketConditionItem =
    "UPDATE OR INSERT INTO ITENSCESTASPROMOCIONAIS(CODIGOCESTA, CODIGOPRODUTO, QUANTIDADE, TIPODESCONTO, DESCONTOVISTA, DESCONTOPRAZO, DESCRICAO )VALUES( :CODIGOCESTA, :CODIGOPRODUTO, :QUANTIDADE, :TIPODESCONTO, :DESCONTOVISTA, :DESCONTOPRAZO, :DESCRICAO)  MATCHING(CODIGOCESTA, CODIGOPRODUTO)";

inline constexpr const char* kBasketBenefitItem =
    "UPDATE OR INSERT INTO ITENSCESTASPROMOCIONAIS(CODIGOCESTA, CODIGOPRODUTO, QUANTIDADE, TIPODESCONTO, DESCONTOVISTA, DESCONTOPRAZO )VALUES( :CODIGOCESTA, :CODIGOPRODUTO, :QUANTIDADE, :TIPODESCONTO, :DESCONTOVISTA, :DESCONTOPRAZO)  MATCHING(CODIGOCESTA, CODIGOPRODUTO)";

inline constexpr const char* kMarkPromotionRejected =
    "UPDATE ZENTROVA_PROMOCOES SET REJEITADA = CURRENT_TIMESTAMP WHERE CODIGOPROMOCAO = :CODIGOPROMOCAO";

inline constexpr const char* kMarkBasketRejected =
    "UPDATE CESTASPROMOCIONAIS SET REJEITADA = CURRENT_TIMESTAMP WHERE CODIGOZENTROVA = :CODIGOZENTROVA";

// The declared size of the columns the import writes keys and amounts into, so that a key is
// never cut and an amount never exceeds what the column declares.
inline constexpr const char* kColumnSizes =
    "select trim(rf.rdb$relation_name) as tabela, trim(rf.rdb$field_name) as coluna, f.rdb$field_type as tipo, coalesce(f.rdb$character_length, f.rdb$field_length) as tamanho, coalesce(f.rdb$field_precision, 0) as precisao, coalesce(f.rdb$field_scale, 0) as escala from rdb$relation_fields rf join rdb$fields f on f.rdb$field_name = rf.rdb$field_source where rf.rdb$relation_name in ('ZENTROVA_PROMOCOES', 'ZENTROVA_PROMOCOES_PRODUTOS', 'ZENTROVA_PROMOCOES_BIN', 'CESTASPROMOCIONAIS', 'ITENSCESTASPROMOCIONAIS')";
// clang-format on

}  // namespace zv::promotions_sql
