#pragma once
// The statements of the movement jobs, kept whole on one line each so that they can be
// compared with the point-of-sale system's own queries at a glance.

namespace zv::movement_sql {

// clang-format off
inline constexpr const char* kLineStatement =
    "select  v.sequencial, v.venda, v.data, v.hora, cast(v.data || ' ' || v.hora AS timestamp) as datahora, v.codigocliente, c.nome, coalesce(c.cic, '') as cic, coalesce(v.cancelamento, '') as cancelamento, coalesce(v.unidade,'UN') as unidade, v.codigoproduto, iif(char_length(hash(v.codigoproduto))>10, substring(v.codigoproduto from char_length(v.codigoproduto) - 5 for 6), hash(v.codigoproduto)) as codhashinterno, p.produto, coalesce(v.precounitario, 0.00) as precounitario, coalesce(v.quantidade, 0.000) as quantidade, coalesce(v.subtotal, 0.00) as subtotal, coalesce(v.desconto, 0.00) as desconto, coalesce(v.precototal, 0.00) as precototal, coalesce(v.precoautomatico, 0.00) as precoautomatico, coalesce(v.precocusto, 0.00) as precocusto, coalesce(v.farmaciapopular, 'N') as farmaciapopular, v.numeroserie, v.numerocoo, coalesce(v.terminal, 1) as terminal from vendas v left join produtos p on v.codigoproduto = p.codigo left join clientes c on v.codigocliente = c.codigo where v.venda = :venda and v.data >= :datainicio and v.codigoproduto not in ('XXDESCONTOXX',  'XXACRESCIMOXX',  'XXENTREGAXX',  'RECARGACELULAR') ";

inline constexpr const char* kSurchargeStatement =
    "select coalesce(v.subtotal, 0.00) as acressimo from vendas v where v.venda = :venda and (v.codigoproduto = 'XXACRESCIMOXX' or v.codigoproduto = 'XXENTREGAXX' )";

inline constexpr const char* kAdditionalDiscountStatement =
    "select iif(coalesce(v.subtotal, 0.00) < 0.00, (v.subtotal-(v.subtotal*2)), v.subtotal) as desconto from vendas v where v.venda = :venda and v.codigoproduto = :codigoproduto and v.produto = 'Desconto Adicional' ";

inline constexpr const char* kCancellationShapeStatement =
    "select distinct(cancelamento) as cancelamento from vendas v where v.venda = :venda";

inline constexpr const char* kPartialCancellationStatement =
    "select sum(iif(v.precototal = 0.00, v.precoautomatico, v.precototal)) as totalcancelamentoparcial from vendas v where v.venda = :venda and v.cancelamento is not null";

inline constexpr const char* kTillStatement =
    " select first 1 coalesce(c.naturezadaoperacao, '') as naturezadaoperacao , coalesce(c.dinheiro, 0.00) as dinheiro , coalesce(c.cheque, 0.00) as cheque , coalesce(c.cartao, 0.00) as cartao , coalesce(c.troco, 0.00) as troco , coalesce(c.total, 0.00) as total , coalesce(c.carteiradigital, 0.00) as carteiradigital , coalesce(c.valetroca, 0.00) as valetroca, coalesce(c.ecommerce, 0.00) as ecommerce , lpad(v.autorizacao, 6, '0') as autorizacao  , coalesce(v.bin, '') as bin  , coalesce(v.ultimosquatrodigitos, '') as ultimosquatrodigitos  , coalesce(c.numerocoo, 1) as numerocoo , coalesce(v.operacao, '') as operacao , coalesce(v.movimento, 9999) as movimento from caixa c left join vendacartao v on c.codigovenda = v.codigovenda left join vendas x on c.codigovenda = x.venda where c.codigovenda = :venda ";

inline constexpr const char* kCancelledTillStatement =
    " select first 1 coalesce(c.naturezadaoperacao, '') as naturezadaoperacao , coalesce(c.dinheiro, 0.00) as dinheiro , coalesce(c.cheque, 0.00) as cheque , coalesce(c.cartao, 0.00) as cartao , coalesce(c.troco, 0.00) as troco , coalesce(c.total, 0.00) as total , coalesce(c.carteiradigital, 0.00) as carteiradigital , coalesce(c.valetroca, 0.00) as valetroca, coalesce(c.ecommerce, 0.00) as ecommerce , lpad(v.autorizacao, 6, '0') as autorizacao  , coalesce(v.bin, '') as bin  , coalesce(v.ultimosquatrodigitos, '') as ultimosquatrodigitos  , coalesce(c.numerocoo, 1) as numerocoo , coalesce(v.operacao, '') as operacao , coalesce(v.movimento, 9999) as movimento from caixacancelado c left join vendacartaocancelada v on c.codigovenda = v.codigovenda left join vendas x on c.codigovenda = x.venda where c.codigovenda = :venda ";

inline constexpr const char* kCardRowsStatement =
    "select * from vendacartao x where x.codigovenda = :venda";

// "v.data + 0" keeps the date index out of the plan: with it, Firebird reads every index
// entry since the start date on each call, so the statement slows down as history grows.
// The index on venda alone starts at the cursor, where the unsent sales are; the result is
// the same.
inline constexpr const char* kNextSaleStatement =
    "select first 1 coalesce(v.venda, 0) as venda from  vendas v where v.venda > :zentrovia_ultvenda and   v.data + 0 >= :datainicio and   v.codigoproduto not in ('XXDESCONTOXX',  'XXACRESCIMOXX',  'XXENTREGAXX',  'RECARGACELULAR')";

inline constexpr const char* kSaleCursorUpdate =
    "update padrao set zentrovia_ultvenda = :venda where codigo is not null and coalesce(cgc, '') <> '' ";
// The same "v.data + 0" for the next cancellation: it runs in almost every cycle, and the
// index on codigocancelamento alone starts at the cancellation cursor.
inline constexpr const char* kNextCancellationStatement =
    "select first 1 coalesce(v.venda, 0) as venda, coalesce(v.codigocancelamento, 0) as codigocancelamento from  vendas v where v.codigocancelamento > :zentrovia_ultcancelamento and   v.data + 0 >= :datainicio and   v.codigoproduto not in ('XXDESCONTOXX',  'XXACRESCIMOXX',  'XXENTREGAXX',  'RECARGACELULAR')";

// Every sale with a row at the code found, lowest sale first: two sales sharing a code are
// both posted before the cursor passes it. Same conditions as the next-cancellation statement.
inline constexpr const char* kSalesAtCancellationCodeStatement =
    "select distinct v.venda as venda from vendas v where v.codigocancelamento = :codigocancelamento and v.data + 0 >= :datainicio and v.codigoproduto not in ('XXDESCONTOXX',  'XXACRESCIMOXX',  'XXENTREGAXX',  'RECARGACELULAR') order by 1";

// The codes of every cancelled row of a sale, the surcharge and discount rows included: they
// decide how far the run of codes posted together reaches.
inline constexpr const char* kCancelledCodesStatement =
    "select v.codigocancelamento as codigocancelamento from vendas v where v.venda = :venda and v.cancelamento is not null and v.codigocancelamento is not null";

// Codes after the one found, up to the end of its run, that the next-cancellation statement
// would find for another sale: the cursor stops short of the first of them.
inline constexpr const char* kCodesInRunStatement =
    "select v.venda as venda, v.codigocancelamento as codigocancelamento from vendas v where v.codigocancelamento > :primeiro and v.codigocancelamento <= :ultimo and v.data + 0 >= :datainicio and v.codigoproduto not in ('XXDESCONTOXX',  'XXACRESCIMOXX',  'XXENTREGAXX',  'RECARGACELULAR')";

inline constexpr const char* kRemainingLinesStatement =
    "select v.sequencial as sequencial from vendas v where v.venda = :venda and v.cancelamento is null";

inline constexpr const char* kCancelledLineStatement =
    "select  v.sequencial, v.venda, v.data as data, v.hora, cast(v.data || ' ' || v.hora AS timestamp) as datahora, v.codigocliente, c.nome, coalesce(c.cic, '') as cic, v.cancelamento as cancelamento, coalesce(v.unidade,'UN') as unidade, v.codigoproduto, iif(char_length(hash(v.codigoproduto))>10, substring(v.codigoproduto from char_length(v.codigoproduto) - 5 for 6), hash(v.codigoproduto)) as codhashinterno, p.produto, coalesce(v.precounitario, 0.00) as precounitario, coalesce(v.quantidade, 0.000) as quantidade, coalesce(v.subtotal, 0.00) as subtotal, coalesce(v.desconto, 0.00) as desconto, coalesce(v.precototal, 0.00) as precototal, coalesce(v.precoautomatico, 0.00) as precoautomatico, coalesce(v.precocusto, 0.00) as precocusto, coalesce(v.farmaciapopular, 'N') as farmaciapopular, v.numeroserie, v.numerocoo, coalesce(v.terminal, 1) as terminal from vendas v left join produtos p on v.codigoproduto = p.codigo left join clientes c on v.codigocliente = c.codigo where v.venda = :venda and v.data >= :datainicio and v.cancelamento is not null and v.codigoproduto not in ('XXDESCONTOXX',  'XXACRESCIMOXX',  'XXENTREGAXX',  'RECARGACELULAR') ";

inline constexpr const char* kCancelledSurchargeStatement =
    "select coalesce(v.subtotal, 0.00) as acressimo from vendas v where v.venda = :venda and (v.codigoproduto = 'XXACRESCIMOXX' or v.codigoproduto = 'XXENTREGAXX' ) and v.cancelamento is not null";

inline constexpr const char* kCancellationTillStatement =
    "  select first 1 coalesce(c.naturezadaoperacao, '') as naturezadaoperacao , coalesce(c.dinheiro, 0.00) as dinheiro , coalesce(c.cheque, 0.00) as cheque , coalesce(c.cartao, 0.00) as cartao , coalesce(c.troco, 0.00) as troco , coalesce(c.total, 0.00) as total , coalesce(c.carteiradigital, 0.00) as carteiradigital , coalesce(c.valetroca, 0.00) as valetroca, coalesce(c.ecommerce, 0.00) as ecommerce , lpad(v.autorizacao, 6, '0') as autorizacao  , coalesce(v.bin, '') as bin  , coalesce(v.ultimosquatrodigitos, '') as ultimosquatrodigitos  , coalesce(c.numerocoo, 1) as numerocoo , coalesce(v.operacao, '') as operacao , coalesce(v.movimento, 9999) as movimento from caixacancelado c left join vendacartaocancelada v on c.codigovenda = v.codigovenda left join vendas x on c.codigovenda = x.venda where c.codigovenda = :venda and x.cancelamento is not null";

inline constexpr const char* kCancellationCursorUpdate =
    "update padrao set zentrovia_ultcancelamento = :codigocancelamento where codigo is not null";

inline constexpr const char* kResendSalesStatement =
    "select distinct v.venda as venda from vendas v where v.data = :datavenda and v.codigoproduto not in ('XXDESCONTOXX',  'XXACRESCIMOXX',  'XXENTREGAXX',  'RECARGACELULAR') ";

// Added as a second line when the request names a till.
inline constexpr const char* kResendSalesTillCondition =
    " and v.terminal = :terminal ";
// clang-format on

}  // namespace zv::movement_sql
