<?xml version="1.0" encoding="UTF-8"?>
<!--
  The K40xx driver's call trace as a report a person reads in a browser: one row per call, in
  the order the calls were made, with the instrument commands a call sent indented under it.

  Self-contained on purpose: no script, no font or style sheet from the network, so the report
  reads the same on a lab machine without a connection.

    xsltproc -o report.html VelmoraK40xx_2024-05-01_10-00-00.xml

  (the trace names this style sheet itself; a second argument before the trace names another).
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"
              doctype-system="about:legacy-compat"/>

  <!-- The I/O manager's records are the instrument commands. -->
  <xsl:variable name="io" select="'CDriverIOManager'"/>

  <xsl:template match="/">
    <xsl:variable name="all" select="//Method"/>
    <xsl:variable name="calls" select="/*/Method"/>
    <xsl:variable name="failed" select="$all[@Result and contains('89ABCDEF', substring(@Result, 3, 1))]"/>
    <html lang="en">
      <head>
        <meta charset="UTF-8"/>
        <title>Driver call trace</title>
        <style>
          body { font: 14px/1.4 system-ui, sans-serif; margin: 1.5em; color: #1d1d1f; background: #fff; }
          h1 { font-size: 1.4em; margin: 0 0 .3em; }
          .summary { margin: 0 0 1em; color: #444; }
          .summary span { margin-right: 1.5em; }
          .legend { margin: 0 0 1em; font-size: .9em; color: #444; }
          .legend span { display: inline-block; padding: 0 .5em; margin-right: .8em; border-radius: 3px; }
          table { border-collapse: collapse; width: 100%; }
          th, td { text-align: left; vertical-align: top; padding: .25em .6em; border-bottom: 1px solid #e3e3e6; }
          th { background: #f2f2f5; position: sticky; top: 0; font-weight: 600; }
          td.n, td.thread, td.duration { text-align: right; font-variant-numeric: tabular-nums; }
          td.start, td.end, td.result { font-family: ui-monospace, monospace; white-space: nowrap; }
          td.name { white-space: nowrap; }
          .iface { color: #6e6e73; }
          tr.io td { background: #fafafc; color: #333; font-size: .93em; }
          tr.io:not([data-depth="0"]) td.name::before { content: "\21B3\00A0"; color: #8e8e93; }
          tr.failed td { background: #fdecec; }
          tr.failed td.result { color: #b00020; font-weight: 600; }
          tr.warning td.result { color: #9a6700; font-weight: 600; }
          tr.unfinished td.end { color: #9a6700; }
          .param { display: inline-block; margin: 0 .9em .1em 0; white-space: nowrap; }
          .dir { display: inline-block; font-size: .75em; padding: 0 .35em; border-radius: 3px;
                 margin-right: .3em; vertical-align: 1px; }
          .dir-In { background: #e3f0ff; color: #0b4f9c; }
          .dir-Out { background: #e4f6e8; color: #17612c; }
          .dir-InOut { background: #f3e8fb; color: #6b2c91; }
          .pname { color: #6e6e73; }
          .pvalue { font-family: ui-monospace, monospace; white-space: pre-wrap; }
          .elements { font-family: ui-monospace, monospace; color: #333; }
          .ok { background: #f2f2f5; } .bad { background: #fdecec; } .cmd { background: #fafafc; }
        </style>
      </head>
      <body>
        <h1>Driver call trace</h1>
        <p class="summary">
          <span id="call-count"><xsl:value-of select="count($calls)"/> calls</span>
          <span id="command-count"><xsl:value-of select="count($all[@Interface = $io])"/> instrument operations</span>
          <span id="failed-count"><xsl:value-of select="count($failed)"/> failed</span>
          <xsl:if test="$all">
            <span id="span">from <xsl:value-of select="$all[1]/@StartTime"/>
              to <xsl:value-of select="($all[@EndTime])[last()]/@EndTime"/></span>
          </xsl:if>
        </p>
        <p class="legend">
          <span class="ok">call</span>
          <span class="cmd">&#x21B3; instrument operation of the call above</span>
          <span class="bad">failed (negative result)</span>
        </p>
        <table id="calls">
          <thead>
            <tr>
              <th>#</th><th>Start</th><th>End</th><th>ms</th><th>Call</th>
              <th>Parameters</th><th>Result</th><th>Thread</th>
            </tr>
          </thead>
          <tbody>
            <xsl:apply-templates select="$calls">
              <xsl:with-param name="depth" select="0"/>
            </xsl:apply-templates>
          </tbody>
        </table>
        <xsl:if test="not($all)">
          <p>The trace holds no calls yet.</p>
        </xsl:if>
      </body>
    </html>
  </xsl:template>

  <xsl:template match="Method">
    <xsl:param name="depth"/>
    <xsl:variable name="lead" select="substring(@Result, 3, 1)"/>
    <tr data-depth="{$depth}">
      <xsl:attribute name="class">
        <xsl:choose>
          <xsl:when test="@Interface = $io">io</xsl:when>
          <xsl:otherwise>call</xsl:otherwise>
        </xsl:choose>
        <xsl:if test="@Result and contains('89ABCDEF', $lead)"> failed</xsl:if>
        <xsl:if test="@Result and not(contains('89ABCDEF', $lead)) and @Result != '0x00000000'"> warning</xsl:if>
        <xsl:if test="not(@EndTime)"> unfinished</xsl:if>
      </xsl:attribute>
      <td class="n"><xsl:number level="any" count="Method"/></td>
      <td class="start"><xsl:value-of select="@StartTime"/></td>
      <td class="end">
        <xsl:choose>
          <xsl:when test="@EndTime"><xsl:value-of select="@EndTime"/></xsl:when>
          <xsl:otherwise>not finished</xsl:otherwise>
        </xsl:choose>
      </td>
      <td class="duration">
        <xsl:choose>
          <xsl:when test="@ExecutionMilliseconds"><xsl:value-of select="@ExecutionMilliseconds"/></xsl:when>
          <!-- Traces of older writers have the seconds field only. -->
          <xsl:when test="@ExecutionTime"><xsl:value-of select="number(@ExecutionTime) * 1000"/></xsl:when>
        </xsl:choose>
      </td>
      <td class="name" style="padding-left: {0.6 + 1.6 * $depth}em">
        <span class="iface"><xsl:value-of select="@Interface"/>.</span>
        <span class="method"><xsl:value-of select="@Name"/></span>
      </td>
      <td class="params"><xsl:apply-templates select="Parameter"/></td>
      <td class="result"><xsl:value-of select="@Result"/></td>
      <td class="thread"><xsl:value-of select="@Thread"/></td>
    </tr>
    <xsl:apply-templates select="Method">
      <xsl:with-param name="depth" select="$depth + 1"/>
    </xsl:apply-templates>
  </xsl:template>

  <xsl:template match="Parameter">
    <!-- An InOut parameter is written twice: as it went in, and as the call returned it. -->
    <xsl:variable name="returned"
                  select="@Direction = 'InOut' and preceding-sibling::Parameter[@Direction = 'InOut' and @Name = current()/@Name]"/>
    <span class="param" data-direction="{@Direction}">
      <span class="dir dir-{@Direction}">
        <xsl:choose>
          <xsl:when test="@Direction = 'In'">in</xsl:when>
          <xsl:when test="@Direction = 'Out'">out</xsl:when>
          <xsl:when test="$returned">in/out, returned</xsl:when>
          <xsl:otherwise>in/out</xsl:otherwise>
        </xsl:choose>
      </span>
      <xsl:text> </xsl:text>
      <span class="pname"><xsl:value-of select="@Name"/> = </span>
      <xsl:choose>
        <xsl:when test="@NumDims">
          <span class="pvalue">array [<xsl:value-of select="translate(@DimSizes, ',', '&#xD7;')"/>]</span>
          <xsl:if test="Element">
            <span class="elements">
              <xsl:text> {</xsl:text>
              <xsl:for-each select="Element">
                <xsl:if test="position() &gt; 1">, </xsl:if>
                <xsl:value-of select="@Value"/>
              </xsl:for-each>
              <xsl:if test="count(Element) &lt; number(@DimSizes)">, &#x2026;</xsl:if>
              <xsl:text>}</xsl:text>
            </span>
          </xsl:if>
        </xsl:when>
        <xsl:otherwise>
          <span class="pvalue"><xsl:value-of select="@Value"/></span>
        </xsl:otherwise>
      </xsl:choose>
    </span>
  </xsl:template>
</xsl:stylesheet>
